# Tests of the AVI writer component, in a folder of their own. Two platform calls are wrapped by
# the linker so that the tests can make them fail.
if(TARGET mv_jxavi)
  mv_test_program(test_jxavi ${CMAKE_CURRENT_LIST_DIR}/jxavi mv_jxavi)
  target_link_options(test_jxavi PRIVATE
    -Wl,--wrap=_Z19AVIFileCreateStreamP8TAviFilePP10TAviStreamRK13AVISTREAMINFO
    -Wl,--wrap=_Z18ICSeqCompressFrameP8COMPVARSjPKvPbPi)
endif()
