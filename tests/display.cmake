# The display on a real X server: the kva program runs on Xvfb screens of
# depth 24, 16 and 15 (and a larger one, where it is centred), its screen is
# grabbed and compared pixel for pixel, and Escape or a close request must end
# it, also while a song plays on a real audio device thread; a screen it
# cannot use, or no display at all, must be named in one line and fail.
add_executable(kva_xhelper ${CMAKE_CURRENT_SOURCE_DIR}/x11/kva_xhelper.cpp
                           ${CMAKE_CURRENT_SOURCE_DIR}/test_songs.cpp)
target_include_directories(kva_xhelper PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kva_xhelper PRIVATE PkgConfig::X11 PkgConfig::PNG ${KVA_MP3LAME})

# The normal and the sanitizer build run their suites one after the other,
# so each build keeps its own display numbers; a private build can move its
# range out of the way of another's.
# The scaled and failing-display tests take numbers from a range of their own.
if(KVA_SANITIZE)
  set(kva_x11_default_display 171)
  set(kva_x11_scaled_default_display 610)
else()
  set(kva_x11_default_display 151)
  set(kva_x11_scaled_default_display 600)
endif()
set(KVA_X11_DISPLAY ${kva_x11_default_display} CACHE STRING
    "First X display number the display tests start Xvfb on")

set(kva_x11_script ${CMAKE_CURRENT_SOURCE_DIR}/x11/display_x11_test.sh)
# One test per case "NAME ARGUMENTS...", on displays from FIRST upwards.
function(kva_x11_cases first timeout)
  set(number ${first})
  foreach(case ${ARGN})
    separate_arguments(args UNIX_COMMAND "${case}")
    list(GET args 0 name)
    list(SUBLIST args 1 -1 rest)
    add_test(NAME display_x11_${name}
      COMMAND bash ${kva_x11_script} $<TARGET_FILE:kva> $<TARGET_FILE:kva_xhelper> ${number} ${rest})
    set_tests_properties(display_x11_${name} PROPERTIES TIMEOUT ${timeout})
    if(KVA_SANITIZE)
      set_tests_properties(display_x11_${name} PROPERTIES ENVIRONMENT KVA_TEST_SLOWDOWN=3)
    endif()
    math(EXPR number "${number} + 1")
  endforeach()
endfunction()

kva_x11_cases(${KVA_X11_DISPLAY} 40
  "depth24 24 640x480 escape" "depth16 16 640x480 close" "depth15 15 640x480 escape"
  "centred 24 800x600 close" "song_escape 24 640x480 escape song"
  "song_close 16 640x480 close song" "depth8 8 640x480 refused")

foreach(driver auto x11)
  add_test(NAME display_x11_nodisplay_${driver}
    COMMAND bash ${kva_x11_script} $<TARGET_FILE:kva> $<TARGET_FILE:kva_xhelper> - - -
            nodisplay ${driver})
  set_tests_properties(display_x11_nodisplay_${driver} PROPERTIES TIMEOUT 20)
endforeach()

# The show enlarged by whole factors on larger screens, a screen that offers
# a real 640 x 480 mode, and the display failing under a running show.
set(KVA_X11_SCALED_DISPLAY ${kva_x11_scaled_default_display} CACHE STRING
    "First X display number the scaled and failing-display tests start Xvfb on")
kva_x11_cases(${KVA_X11_SCALED_DISPLAY} 60
  "scaled_1080p 24 1920x1080 escape k=2" "scaled_2160p 24 3840x2160 close k=4"
  "scaled_depth16 16 1024x768 escape k=1" "scaled_depth15 15 1600x1200 close k=2"
  "randr_mode_kept 24 1920x1080 randr k=2" "window_closed 24 1920x1080 windowclose k=2"
  "window_killed 16 1024x768 windowkill" "server_killed 24 1280x1024 serverkill k=2")

# Native Wayland under a headless sway; skipped where sway cannot start.
add_test(NAME display_wayland_native
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/display_wayland_test.sh $<TARGET_FILE:kva>
          $<TARGET_FILE:kva_xhelper>)
set_tests_properties(display_wayland_native PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77)
add_test(NAME display_wayland_compositor_gone
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/display_wayland_test.sh $<TARGET_FILE:kva>
          $<TARGET_FILE:kva_xhelper> compositorkill)
set_tests_properties(display_wayland_compositor_gone PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77)

# Frames that change only in some rows, shown enlarged and read back from a
# real X screen: only the changed rows are sent, so a wrong band shows.
add_executable(kva_bandcheck ${CMAKE_CURRENT_SOURCE_DIR}/x11/band_check.cpp)
target_link_libraries(kva_bandcheck PRIVATE kva_core PkgConfig::X11)
math(EXPR kva_band_display "${KVA_X11_SCALED_DISPLAY} + 8")
add_test(NAME display_x11_changed_rows
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/band_check.sh $<TARGET_FILE:kva_bandcheck>
          ${kva_band_display})
set_tests_properties(display_x11_changed_rows PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77)

# The show on a 1920 x 1080 screen against kva-export's stills, before and
# after another window covered it.
math(EXPR kva_still_display "${KVA_X11_SCALED_DISPLAY} + 9")
add_test(NAME display_x11_show_stills
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/still_check.sh $<TARGET_FILE:kva>
          $<TARGET_FILE:kva-export> $<TARGET_FILE:kva_xhelper> ${kva_still_display})
set_tests_properties(display_x11_show_stills PROPERTIES TIMEOUT 90)
if(KVA_SANITIZE)
  set_tests_properties(display_x11_show_stills PROPERTIES ENVIRONMENT KVA_TEST_SLOWDOWN=3)
endif()
