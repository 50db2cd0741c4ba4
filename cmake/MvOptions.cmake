# Compiler flags shared by every target of the project.
add_library(mv_options INTERFACE)
target_compile_features(mv_options INTERFACE cxx_std_20)
target_compile_options(mv_options INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wcast-align -Woverloaded-virtual -Wno-missing-field-initializers>)
# Extended precision arithmetic must stay 80-bit and evaluated as written.
target_compile_options(mv_options INTERFACE -fno-fast-math)

if(MV_SANITIZE)
  target_compile_options(mv_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(mv_options INTERFACE -fsanitize=address,undefined)
endif()
if(MV_FUZZ)
  target_compile_options(mv_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
    -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(mv_options INTERFACE -fsanitize=address,undefined)
endif()

# Adds a library made of every source file of one folder (a folder is a set of units).
function(mv_folder_library name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC mv_options)
endfunction()
