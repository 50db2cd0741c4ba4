# PNG encoding beside libpng's default settings, with the same zlib, on the photo corpus of
# bench/setup-photos (made by the decode benchmark's converter).
if(NOT TARGET PkgConfig::MV_LIBPNG)
  pkg_check_modules(MV_LIBPNG REQUIRED IMPORTED_TARGET libpng)
endif()
mv_benchmark(bench_png_encode ${CMAKE_CURRENT_LIST_DIR}/PngEncodeBench.cpp)
target_link_libraries(bench_png_encode PRIVATE PkgConfig::MV_LIBPNG)
target_compile_definitions(bench_png_encode PRIVATE
  MV_BENCH_PHOTOS_DIR="${CMAKE_BINARY_DIR}/bench-photos")
