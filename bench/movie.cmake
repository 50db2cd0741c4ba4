# The movie maker's work without its window: the frame folder scan, and the movie job per frame
# beside ffmpeg turning the same frames into an AVI with the same codec.
if(TARGET mv_m_core AND TARGET mv_jxavi)
  mv_benchmark(bench_movie ${CMAKE_CURRENT_LIST_DIR}/MovieBench.cpp)
  target_link_libraries(bench_movie PRIVATE mv_m_core)
  target_compile_definitions(bench_movie PRIVATE MV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
