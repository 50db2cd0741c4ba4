# The pooled memory manager's own tests, and a Qt program that runs on it through the replaced
# operator new and delete (not under the sanitizers, which own the allocator there).
if(TARGET mv_vqmm)
  mv_test_program(test_vqmm ${CMAKE_CURRENT_LIST_DIR}/vqmm mv_vqmm Threads::Threads)
  if(NOT MV_SANITIZE)
    mv_test_program(test_vqmm_hook ${CMAKE_CURRENT_LIST_DIR}/vqmm_hook mv_vqmm_hook Qt6::Widgets
      mv_jxavi)
  endif()
endif()
