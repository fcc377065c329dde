# The real kva on desktops as users have them. Its motion on X screens whose
# RandR mode refreshes at 60, 144 and 240 Hz, and while another window has
# the focus, compared with kva-export's stills; --window under openbox;
# --display on a screen split into monitors. Skipped where RandR or openbox
# cannot give the desktop.
if(KVA_SANITIZE)
  set(kva_refresh_default_display 650)
else()
  set(kva_refresh_default_display 630)
endif()
set(KVA_X11_REFRESH_DISPLAY ${kva_refresh_default_display} CACHE STRING
    "First X display number the refresh-rate, window and monitor tests start Xvfb on")
kva_test_timeout(60 kva_refresh_timeout)
set(number ${KVA_X11_REFRESH_DISPLAY})
foreach(mode 60 144 240 unfocused)
  add_test(NAME display_x11_refresh_${mode}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/refresh_test.sh $<TARGET_FILE:kva>
            $<TARGET_FILE:kva-export> $<TARGET_FILE:kva_xhelper> ${number} ${mode})
  set_tests_properties(display_x11_refresh_${mode} PROPERTIES
    TIMEOUT ${kva_refresh_timeout} SKIP_RETURN_CODE 77)
  math(EXPR number "${number} + 1")
endforeach()
foreach(mode window monitors lost)
  add_test(NAME display_x11_${mode}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/window_test.sh $<TARGET_FILE:kva>
            $<TARGET_FILE:kva_xhelper> ${number} ${mode})
  set_tests_properties(display_x11_${mode} PROPERTIES
    TIMEOUT ${kva_refresh_timeout} SKIP_RETURN_CODE 77)
  math(EXPR number "${number} + 1")
endforeach()

# Native Wayland with SDL decorating through libdecor, which finds no plugins
# (as on weston or mutter without them): nothing may reach standard error.
add_test(NAME display_wayland_libdecor
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/display_wayland_test.sh $<TARGET_FILE:kva>
          $<TARGET_FILE:kva_xhelper> libdecor)
set_tests_properties(display_wayland_libdecor PROPERTIES
  TIMEOUT ${kva_refresh_timeout} SKIP_RETURN_CODE 77)

# Native Wayland under a headless sway whose output refreshes at 144 Hz: the
# lyric in grim's grabs is where kva-export's 60 Hz stills have it.
add_test(NAME display_wayland_refresh_144
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/display_wayland_test.sh $<TARGET_FILE:kva>
          $<TARGET_FILE:kva_xhelper> refresh144 $<TARGET_FILE:kva-export>)
set_tests_properties(display_wayland_refresh_144 PROPERTIES
  TIMEOUT ${kva_refresh_timeout} SKIP_RETURN_CODE 77)

# The program's name as a sound server lists it, with kva on Xvfb.
add_test(NAME display_x11_app_name
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/app_name_test.sh $<TARGET_FILE:kva>
          $<TARGET_FILE:kva_xhelper> ${number})
set_tests_properties(display_x11_app_name PROPERTIES
  TIMEOUT ${kva_refresh_timeout} SKIP_RETURN_CODE 77)
