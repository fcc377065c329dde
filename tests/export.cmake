# The exporter's tests live in kva_tests and also run the kva-export program.
target_link_libraries(kva_tests PRIVATE kva_export)
target_compile_definitions(kva_tests PRIVATE KVA_EXPORT_PROGRAM="$<TARGET_FILE:kva-export>")
add_dependencies(kva_tests kva-export)
