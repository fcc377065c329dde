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
foreach(mode tone kva)
  add_test(NAME music_pulse_${mode}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/music_pulse/pulse_test.sh
            $<TARGET_FILE:kva_pulse_probe> $<TARGET_FILE:kva> ${KVA_PULSE_DISPLAY} ${mode})
  set_tests_properties(music_pulse_${mode} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endforeach()
