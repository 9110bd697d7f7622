# SPDX-License-Identifier: MIT
# marbrix_version_resource(TARGET DESCRIPTION): on Windows, gives TARGET's
# .exe a version block (FileVersion, ProductVersion, ProductName,
# CompanyName, FileDescription) from project(VERSION), compiled by windres
# through CMake's RC language. Nothing elsewhere.
function(marbrix_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  # Four numbers, missing ones 0: 1.0 is 1,0,0,0.
  set(numbers ${PROJECT_VERSION_MAJOR})
  foreach(part MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      string(APPEND numbers ",0")
    else()
      string(APPEND numbers ",${PROJECT_VERSION_${part}}")
    endif()
  endforeach()
  set(MARBRIX_RC_NUMBERS ${numbers})
  set(MARBRIX_RC_DESCRIPTION ${description})
  set(MARBRIX_RC_INTERNAL ${target})
  set(MARBRIX_RC_FILENAME ${target}.exe)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
