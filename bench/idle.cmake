# The player's CPU share while nothing happens: the start screen and a still picture.
if(TARGET mv_x_core)
  mv_benchmark(bench_idle ${CMAKE_CURRENT_LIST_DIR}/IdleBench.cpp)
  target_link_libraries(bench_idle PRIVATE mv_x_core)
endif()
