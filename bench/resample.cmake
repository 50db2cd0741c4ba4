# The resampler beside pixman's separable convolution (bilinear surface, box average).
pkg_check_modules(PIXMAN REQUIRED IMPORTED_TARGET pixman-1)
mv_benchmark(bench_resample ${CMAKE_CURRENT_LIST_DIR}/ResampleBench.cpp)
target_link_libraries(bench_resample PRIVATE PkgConfig::PIXMAN)
