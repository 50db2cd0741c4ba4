# PNG decoding beside libpng (simplified API, to BGR) and libspng (to RGB8), with the same zlib,
# on the photo corpus (bench/setup-photos) and on PngSuite; and the converter that makes the
# photo corpus.
pkg_check_modules(MV_LIBPNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(MV_SPNG REQUIRED IMPORTED_TARGET spng)
find_package(JPEG REQUIRED)

set(mv_png_testdata ${CMAKE_SOURCE_DIR}/tests/data)
mv_benchmark(bench_png_decode ${CMAKE_CURRENT_LIST_DIR}/PngDecodeBench.cpp)
target_link_libraries(bench_png_decode PRIVATE PkgConfig::MV_LIBPNG PkgConfig::MV_SPNG)
target_compile_definitions(bench_png_decode PRIVATE
  MV_BENCH_PHOTOS_DIR="${CMAKE_BINARY_DIR}/bench-photos" MV_TESTDATA_DIR="${mv_png_testdata}")

add_executable(photo_to_png ${CMAKE_CURRENT_LIST_DIR}/PhotoToPng.cpp)
target_link_libraries(photo_to_png PRIVATE PkgConfig::MV_LIBPNG JPEG::JPEG mv_options)
set_target_properties(photo_to_png PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
