# Warnings shared by every target of ours.
add_library(palvero_warnings INTERFACE)
target_compile_options(palvero_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Werror
  # GCC 12 reports a false -Wrestrict inside libstdc++ at higher optimisation levels.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-error=restrict>)
if(PALVERO_SANITIZE)
  target_compile_options(palvero_warnings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(palvero_warnings INTERFACE -fsanitize=address,undefined)
endif()
if(PALVERO_TSAN)
  target_compile_options(palvero_warnings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(palvero_warnings INTERFACE -fsanitize=thread)
endif()
if(PALVERO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "PALVERO_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  # Every library is instrumented for coverage; the fuzz programs add libFuzzer's main.
  target_compile_options(palvero_warnings INTERFACE -fsanitize=fuzzer-no-link,address,undefined
    -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(palvero_warnings INTERFACE -fsanitize=address,undefined)
endif()

# palvero_library(<target> <folder under src> [DEPS targets...])
#
# Builds every .cpp directly in src/<folder> (and in the listed SUBDIRS) as one
# static library. The headers are published through a private include root
# that holds only this folder, so a target sees the headers of the targets it
# links and nothing above them: a layer that reaches upward fails to build.
function(palvero_library target folder)
  cmake_parse_arguments(ARG "" "" "DEPS;SUBDIRS" ${ARGN})
  set(dir ${PROJECT_SOURCE_DIR}/src/${folder})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  foreach(sub IN LISTS ARG_SUBDIRS)
    file(GLOB more CONFIGURE_DEPENDS ${dir}/${sub}/*.cpp)
    list(APPEND sources ${more})
  endforeach()
  add_library(${target} STATIC ${sources})
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${dir} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE palvero_warnings)
endfunction()

# palvero_executable(<target> SOURCES ... DEPS ...)
function(palvero_executable target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} palvero_warnings)
endfunction()
