# kva-export: the show rendered into a video file (through the ffmpeg
# program) or into a PNG still. Its pieces form a library shared by the
# program, the tests and the benchmarks.
file(GLOB KVA_EXPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/export/*.cpp)
list(REMOVE_ITEM KVA_EXPORT_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/export/main.cpp)
add_library(kva_export STATIC ${KVA_EXPORT_SOURCES})
target_include_directories(kva_export PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kva_export PUBLIC kva_core PkgConfig::PNG)

add_executable(kva-export export/main.cpp)
target_link_libraries(kva-export PRIVATE kva_export)
# Next to kva, so both run in the folder that holds the pack.
set_target_properties(kva-export PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(TARGET kva_bench)
  target_link_libraries(kva_bench PRIVATE kva_export)
endif()
