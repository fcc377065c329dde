# The asset pack's tests run in kva_tests against the pack maker's library.
target_link_libraries(kva_tests PRIVATE kva_makepack)
