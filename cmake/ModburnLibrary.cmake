# modburn_library(<name> SOURCES <files...> [PUBLIC <targets...>] [PRIVATE <targets...>])
#
# A static library named modburn_<name> with the alias modburn::<name>. Its
# headers are linked into an include root of its own, so `#include
# "run/run.h"` compiles only in code that links modburn::run: an include
# against the layering fails to build instead of being caught in review.
function(modburn_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  set(target modburn_${name})
  add_library(${target} STATIC ${ARG_SOURCES})
  add_library(modburn::${name} ALIAS ${target})

  set(root ${CMAKE_BINARY_DIR}/include/${target})
  # Headers keep the path they are listed with, relative to the calling folder.
  foreach(file IN LISTS ARG_SOURCES)
    if(file MATCHES "\\.h$")
      set(published ${root}/${file})
      get_filename_component(folder ${published} DIRECTORY)
      file(MAKE_DIRECTORY ${folder})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${file} ${published} COPY_ON_ERROR SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE} modburn_warnings)
endfunction()
