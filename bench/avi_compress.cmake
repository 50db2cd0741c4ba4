# MJPG through the compression manager into AVI files beside ffmpeg's mjpeg at the same
# quantiser, and every offered compressor's frames per second at 640 x 480.
if(TARGET mv_avi_save)
  mv_benchmark(bench_avi_compress ${CMAKE_CURRENT_LIST_DIR}/AviCompressBench.cpp)
  target_link_libraries(bench_avi_compress PRIVATE mv_vcm mv_avi)
endif()
