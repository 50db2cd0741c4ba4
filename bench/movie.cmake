# The movie maker: the frame folder scan, and the movie loop per frame beside ffmpeg turning the
# same frames into an AVI with the same codec.
if(TARGET mv_m_core AND TARGET mv_jxavi)
  mv_benchmark(bench_movie ${CMAKE_CURRENT_LIST_DIR}/MovieBench.cpp)
  target_link_libraries(bench_movie PRIVATE mv_m_core)
endif()
