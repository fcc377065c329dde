# The installed programs, run from an unrelated folder (needs the pack made
# by the build, so only where the build makes it).
if(KVA_PACK)
  add_executable(kva_frame_check ${CMAKE_CURRENT_SOURCE_DIR}/install/frame_check.cpp)
  target_link_libraries(kva_frame_check PRIVATE kva_core)
  file(WRITE ${CMAKE_BINARY_DIR}/version.txt ${PROJECT_VERSION})
  if(KVA_SANITIZE)
    set(kva_install_display 641)
  else()
    set(kva_install_display 640)
  endif()
  add_test(NAME install_anywhere
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${CMAKE_BINARY_DIR}
            $<TARGET_FILE:kva_frame_check> ${kva_install_display})
  set_tests_properties(install_anywhere PROPERTIES TIMEOUT 120)
endif()
