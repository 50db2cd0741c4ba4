# The blend beside memcpy of the same bytes.
mv_benchmark(bench_blend ${CMAKE_CURRENT_LIST_DIR}/BlendBench.cpp)
