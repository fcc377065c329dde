# The asset pack's tests run in kva_tests against the pack maker's library.
target_link_libraries(kva_tests PRIVATE kva_makepack)

# The real kva with the pack on Xvfb; the sanitizer build takes other
# display numbers, as both suites may run at once.
if(KVA_SANITIZE)
  set(kva_pack_display 266)
else()
  set(kva_pack_display 261)
endif()
add_test(NAME pack_x11_sunset
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/pack_x11.sh $<TARGET_FILE:kva> $<TARGET_FILE:kva-makepack>
          ${kva_pack_display})
set_tests_properties(pack_x11_sunset PROPERTIES TIMEOUT 120)
