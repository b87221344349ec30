# The versions that the DLL's version resource records (Explorer's
# Properties, Details). A release sets them with the rest of its build
# settings; the build writes them into version_info.h, which res/version.rc
# and the tests include.
set(VINSTALL_FILE_VERSION "1.0.0.0" CACHE STRING
    "File version of VINSTALLDLL.dll: four numbers from 0 to 65535, dot-separated")
set(VINSTALL_PRODUCT_VERSION "" CACHE STRING
    "Product version recorded in VINSTALLDLL.dll: four numbers, dot-separated; empty for the file version")

# A version's four numbers, comma-separated, as VERSIONINFO wants them.
function(vinstall_version_numbers version out)
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "'${version}' is not a version of four numbers, like 1.0.0.0")
  endif()
  foreach(part ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
    if(part GREATER 65535)
      message(FATAL_ERROR "'${version}': each number of a version is at most 65535")
    endif()
  endforeach()
  set(${out} "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},${CMAKE_MATCH_4}" PARENT_SCOPE)
endfunction()

set(VINSTALL_PRODUCT_VERSION_TEXT "${VINSTALL_PRODUCT_VERSION}")
if(VINSTALL_PRODUCT_VERSION_TEXT STREQUAL "")
  set(VINSTALL_PRODUCT_VERSION_TEXT "${VINSTALL_FILE_VERSION}")
endif()
vinstall_version_numbers("${VINSTALL_FILE_VERSION}" VINSTALL_FILE_VERSION_NUMBERS)
vinstall_version_numbers("${VINSTALL_PRODUCT_VERSION_TEXT}" VINSTALL_PRODUCT_VERSION_NUMBERS)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version_info.h.in ${CMAKE_BINARY_DIR}/version_info.h @ONLY)
