# Opening and importing a 4000 x 3000 album entry, with the time of each step.
if(TARGET mv_x_core)
  mv_benchmark(bench_album_open ${CMAKE_CURRENT_LIST_DIR}/AlbumOpenBench.cpp)
  target_link_libraries(bench_album_open PRIVATE mv_x_core)
endif()
