# The music tests make their MP3s with LAME (KVA_MP3LAME, found by the top
# folder: it has no pkg-config file).

# The real sound server: PulseAudio with a null sink, recorded by parec
# (skipped where the daemon cannot start). Xvfb for kva on its own display.
find_package(Threads REQUIRED)
add_executable(kva_pulse_probe ${CMAKE_CURRENT_SOURCE_DIR}/music_pulse/kva_pulse_probe.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_songs.cpp ${CMAKE_CURRENT_SOURCE_DIR}/music_test_modules.cpp)
target_include_directories(kva_pulse_probe PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kva_pulse_probe PRIVATE kva_core ${KVA_MP3LAME} Threads::Threads)
set(KVA_PULSE_DISPLAY 620 CACHE STRING "X display number the PulseAudio kva test starts Xvfb on")
foreach(mode tone hear lose kva kvalose)
  add_test(NAME music_pulse_${mode}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/music_pulse/pulse_test.sh
            $<TARGET_FILE:kva_pulse_probe> $<TARGET_FILE:kva> ${KVA_PULSE_DISPLAY} ${mode})
  # One at a time: the kva runs share the X display, and a second sound
  # server beside one would only blur the timings.
  set_tests_properties(music_pulse_${mode} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60
    RESOURCE_LOCK kva_sound_server)
endforeach()
# PipeWire, through SDL's own driver and through its PulseAudio server.
foreach(server pipewire pipewire-pulse)
  foreach(mode hear lose kvalose)
    add_test(NAME music_${server}_${mode}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/music_pulse/pulse_test.sh
              $<TARGET_FILE:kva_pulse_probe> $<TARGET_FILE:kva> ${KVA_PULSE_DISPLAY} ${mode} ${server})
    set_tests_properties(music_${server}_${mode} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60
      RESOURCE_LOCK kva_sound_server)
  endforeach()
endforeach()
# 10 s of a control and 20 s of song with the machine loaded on purpose: the
# song's buffer is only tested by delays that come often enough.
add_test(NAME music_pulse_load
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/music_pulse/pulse_test.sh
          $<TARGET_FILE:kva_pulse_probe> $<TARGET_FILE:kva> ${KVA_PULSE_DISPLAY} load)
kva_test_timeout(150 kva_pulse_load_timeout)
set_tests_properties(music_pulse_load PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE
  TIMEOUT ${kva_pulse_load_timeout})
