# The AVI writer component of the movie maker; it needs the AVI file services and the
# compressors of the platform.
if(NOT (TARGET mv_avi AND TARGET mv_avi_save AND TARGET mv_vcm))
  message(STATUS "mv_jxavi skipped: the AVI services (mv_avi, mv_avi_save, mv_vcm) are not built")
  return()
endif()
add_library(mv_jxavi STATIC ${CMAKE_CURRENT_LIST_DIR}/JxAvi.cpp ${CMAKE_CURRENT_LIST_DIR}/JxAvi.h
  ${CMAKE_CURRENT_LIST_DIR}/Temporaries.cpp ${CMAKE_CURRENT_LIST_DIR}/Temporaries.h)
target_include_directories(mv_jxavi PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(mv_jxavi PUBLIC mv_avi mv_avi_save mv_vcm mv_forms mv_graphics mv_options)
