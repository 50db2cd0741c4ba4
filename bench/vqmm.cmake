# The movie maker's pooled memory manager beside glibc's malloc and free.
if(TARGET mv_vqmm)
  mv_benchmark(bench_vqmm ${CMAKE_CURRENT_LIST_DIR}/VqMMBench.cpp)
  target_link_libraries(bench_vqmm PRIVATE mv_vqmm)
endif()
