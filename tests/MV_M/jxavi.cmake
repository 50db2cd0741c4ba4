# Tests of the AVI writer component, in a folder of their own.
if(TARGET mv_jxavi)
  mv_test_program(test_jxavi ${CMAKE_CURRENT_LIST_DIR}/jxavi mv_jxavi)
endif()
