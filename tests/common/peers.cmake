# The image library's tests read written PNG files back with libpng, an independent reader.
find_package(PkgConfig REQUIRED)
pkg_check_modules(MV_TEST_LIBPNG REQUIRED IMPORTED_TARGET libpng)
target_link_libraries(test_common PRIVATE PkgConfig::MV_TEST_LIBPNG)
