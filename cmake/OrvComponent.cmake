# orv_headers(<target> [BASE <dir>] [PUBLIC <header>...] [PRIVATE <header>...])
#
# Makes <target> the owner of these headers (paths relative to the current
# source folder) and exposes exactly them: each is linked at configure time
# into ${CMAKE_BINARY_DIR}/include/<target>/ under its path relative to the
# repository root (so "service/adapter/adapter.h" stays the include string;
# PUBLIC headers relative to BASE when given), and that folder becomes the
# target's include directory.
# PUBLIC headers are seen by the target and by every target that links it
# (INTERFACE for header-only libraries); PRIVATE headers, from
# include-private/<target>/, by the target alone. No target gets the source
# tree as include path, so a target sees the headers of itself and of what it
# links, and nothing else.
function(orv_headers target)
  cmake_parse_arguments(H "" "BASE" "PUBLIC;PRIVATE" ${ARGN})
  if(NOT H_BASE)
    set(H_BASE ${PROJECT_SOURCE_DIR})
  endif()
  get_filename_component(base ${H_BASE} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(public_scope INTERFACE)
  elseif(type STREQUAL "EXECUTABLE")
    set(public_scope PRIVATE)
  else()
    set(public_scope PUBLIC)
  endif()
  foreach(kind PUBLIC PRIVATE)
    if(kind STREQUAL "PUBLIC")
      set(dir ${CMAKE_BINARY_DIR}/include/${target})
      set(scope ${public_scope})
      set(from ${base})
    else()
      set(dir ${CMAKE_BINARY_DIR}/include-private/${target})
      set(scope PRIVATE)
      set(from ${PROJECT_SOURCE_DIR})
    endif()
    file(REMOVE_RECURSE ${dir})
    if(NOT H_${kind})
      continue()
    endif()
    foreach(header IN LISTS H_${kind})
      get_filename_component(source ${header} ABSOLUTE)
      if(NOT EXISTS ${source})
        message(FATAL_ERROR "orv_headers(${target}): no such header ${header}")
      endif()
      file(RELATIVE_PATH name ${from} ${source})
      get_filename_component(parent ${dir}/${name} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${source} ${dir}/${name} SYMBOLIC)
    endforeach()
    target_include_directories(${target} ${scope} ${dir})
  endforeach()
endfunction()
