# One frame of the player with a full drop table, against its 33 ms budget.
if(TARGET mv_x_core)
  mv_benchmark(bench_frame ${CMAKE_CURRENT_LIST_DIR}/FrameBench.cpp)
  target_link_libraries(bench_frame PRIVATE mv_x_core)
endif()
