# Uncompressed 640 x 480 movies written through the AVI file services beside ffmpeg writing
# the same BMP frames into a rawvideo AVI; and one copied with AVIStreamCopy beside cp.
mv_benchmark(bench_avi_write ${CMAKE_CURRENT_LIST_DIR}/AviWriteBench.cpp)
target_link_libraries(bench_avi_write PRIVATE mv_avi)
