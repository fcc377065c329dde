# The music tests and benchmarks make their MP3s with LAME, which has no
# pkg-config file. The benchmark target is defined after this fragment runs,
# so its part is deferred to the end of the top-level directory.
find_library(KVA_MP3LAME mp3lame REQUIRED)
target_link_libraries(kva_tests PRIVATE ${KVA_MP3LAME})

function(kva_music_bench_songs)
  if(TARGET kva_bench)
    target_sources(kva_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/test_songs.cpp)
    target_link_libraries(kva_bench PRIVATE ${KVA_MP3LAME})
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL kva_music_bench_songs)
