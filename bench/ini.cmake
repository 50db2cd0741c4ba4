# Reading an album entry's settings file, small and near the reader's size limit.
mv_benchmark(bench_ini ${CMAKE_CURRENT_LIST_DIR}/IniBench.cpp)
