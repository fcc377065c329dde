# Hostile asset sets on Xvfb: archive and picture bombs, too many pixels
# together and too many archive entries must cost kva neither memory nor
# start-up time (peak resident memory and the time to the first frame are
# measured and bounded); and while a slow asset loads, Escape, a close
# request and SIGTERM must end it with 0 at once.
add_executable(kva_make_hostile ${CMAKE_CURRENT_SOURCE_DIR}/hostile/make_hostile.cpp)
target_link_libraries(kva_make_hostile PRIVATE PkgConfig::ZLIB)
# Preloaded into kva: it must not carry sanitizer code of its own.
add_library(kva_slow_fread MODULE ${CMAKE_CURRENT_SOURCE_DIR}/hostile/slow_fread.cpp)
target_compile_options(kva_slow_fread PRIVATE -fno-sanitize=all)
target_link_libraries(kva_slow_fread PRIVATE ${CMAKE_DL_LIBS})

# The bounds have margins for a busy machine: the budgets keep the real
# figures far below them (see the README). Sanitizers cost memory and time.
if(KVA_SANITIZE)
  set(kva_hostile_display 730)
  set(kva_hostile_mb 1024)
  set(kva_hostile_seconds 20)
  set(kva_startup_seconds 4)
  set(kva_first_frame_cpu_ms 6000)
  set(kva_answer_ms 4000)
else()
  set(kva_hostile_display 700)
  set(kva_hostile_mb 200)
  set(kva_hostile_seconds 4)
  set(kva_startup_seconds 2)
  set(kva_first_frame_cpu_ms 700)
  set(kva_answer_ms 1500)
endif()

foreach(set archive pictures total entries)
  add_test(NAME hostile_x11_${set}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/hostile/bombs_x11.sh $<TARGET_FILE:kva>
            $<TARGET_FILE:kva_make_hostile> ${kva_hostile_display} ${set} ${kva_hostile_mb}
            ${kva_hostile_seconds})
  set_tests_properties(hostile_x11_${set} PROPERTIES TIMEOUT 90)
  math(EXPR kva_hostile_display "${kva_hostile_display} + 1")
endforeach()

foreach(action escape close sigterm)
  add_test(NAME startup_x11_${action}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/hostile/startup_x11.sh $<TARGET_FILE:kva>
            $<TARGET_FILE:kva_xhelper>
            $<TARGET_FILE:kva_make_hostile> $<TARGET_FILE:kva_slow_fread>
            ${kva_hostile_display} ${action} ${kva_startup_seconds})
  set_tests_properties(startup_x11_${action} PROPERTIES TIMEOUT 90)
  math(EXPR kva_hostile_display "${kva_hostile_display} + 1")
endforeach()

# Standard input, output or error closed when kva starts.
foreach(closed in err out-err)
  add_test(NAME descriptors_x11_${closed}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/hostile/descriptors_x11.sh $<TARGET_FILE:kva>
            $<TARGET_FILE:kva_xhelper> $<TARGET_FILE:kva_make_hostile>
            ${kva_hostile_display} ${closed})
  set_tests_properties(descriptors_x11_${closed} PROPERTIES TIMEOUT 90)
  math(EXPR kva_hostile_display "${kva_hostile_display} + 1")
endforeach()

# Pictures whose image data runs on far past what their rows need: the first
# frame comes as fast as with plain pictures, and Escape, a close request,
# SIGTERM or the X server's end are answered at once during the load. On an
# idle machine: first frame after 0.3-0.65 s (80-270 ms of processor time;
# walking the empty chunks one by one took 1.1 s of it), answers within
# 30-150 ms; the bounds leave room for a machine loaded many times over.
foreach(set trailing trailing-budget empty-chunks)
  foreach(action frame escape close sigterm xkill)
    add_test(NAME answer_x11_${set}_${action}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/hostile/answer_x11.sh $<TARGET_FILE:kva>
              $<TARGET_FILE:kva_xhelper> $<TARGET_FILE:kva_make_hostile>
              ${kva_hostile_display} ${set} ${action} ${kva_first_frame_cpu_ms} ${kva_answer_ms})
    set_tests_properties(answer_x11_${set}_${action} PROPERTIES TIMEOUT 90)
    math(EXPR kva_hostile_display "${kva_hostile_display} + 1")
  endforeach()
endforeach()
