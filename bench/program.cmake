# The real mv_m played by the test input plugin beside ffmpeg on the same frames: a program of
# its own, run by hand (not by ctest), since each run takes seconds.
if(TARGET mv_m AND TARGET mvm_driver)
  mv_benchmark(bench_program ${CMAKE_CURRENT_LIST_DIR}/ProgramBench.cpp)
  add_dependencies(bench_program mv_m mvm_driver)
  target_compile_definitions(bench_program PRIVATE MV_M_PROGRAM="$<TARGET_FILE:mv_m>"
    MV_PROGRAM_DIR="${MV_PROGRAM_DIR}" MV_DRIVER_PLUGINS="${CMAKE_BINARY_DIR}/tests/plugins")
endif()
