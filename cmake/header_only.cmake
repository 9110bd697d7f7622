# SPDX-License-Identifier: MIT
# A header-only library from Debian's packages, as an imported target.
#   marbrix_header_only(TARGET <name::name> PACKAGE <config package>
#                       HEADER <folder/file.hpp> DEBIAN <package>)
# A native build finds the package's CMake config. A cross build (mingw-w64)
# looks only in its own root, so it takes the host's headers instead, their
# folder copied apart: /usr/include itself would shadow the C library's.
function(marbrix_header_only)
  cmake_parse_arguments(arg "" "TARGET;PACKAGE;HEADER;DEBIAN" "" ${ARGN})
  if(TARGET ${arg_TARGET})
    return()
  endif()
  find_package(${arg_PACKAGE} CONFIG QUIET GLOBAL)
  if(TARGET ${arg_TARGET})
    return()
  endif()
  find_path(${arg_PACKAGE}_INCLUDE_DIR ${arg_HEADER} NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${arg_PACKAGE}_INCLUDE_DIR)
    message(FATAL_ERROR "${arg_PACKAGE} not found: install ${arg_DEBIAN}")
  endif()
  cmake_path(GET arg_HEADER PARENT_PATH folder)
  set(copy ${CMAKE_BINARY_DIR}/host-headers/${arg_PACKAGE})
  file(COPY ${${arg_PACKAGE}_INCLUDE_DIR}/${folder} DESTINATION ${copy})
  add_library(${arg_TARGET} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${arg_TARGET} INTERFACE ${copy})
endfunction()
