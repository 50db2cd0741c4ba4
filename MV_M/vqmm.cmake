# The pooled memory manager, and the allocation entry points that route every allocation of the
# program that links mv_vqmm_hook to it. Only mv_m links the hook. Under the sanitizers the hook
# stays empty: the sanitizer owns the allocator there.
add_library(mv_vqmm STATIC ${CMAKE_CURRENT_LIST_DIR}/VqMM.cpp ${CMAKE_CURRENT_LIST_DIR}/VqMM.h)
target_include_directories(mv_vqmm PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(mv_vqmm PUBLIC mv_rtl mv_options)

if(MV_SANITIZE)
  add_library(mv_vqmm_hook INTERFACE)
else()
  # An object library, so the replaced operators are always linked, never picked from an archive.
  add_library(mv_vqmm_hook OBJECT ${CMAKE_CURRENT_LIST_DIR}/hook/NewDelete.cpp)
  target_link_libraries(mv_vqmm_hook PUBLIC mv_vqmm)
endif()
