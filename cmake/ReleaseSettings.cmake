# The release texts built into VINSTALLDLL.dll: what UpdateInfo and MLDInfo
# write into the record files, the notice of Chk4TELDAX and the parameters
# with which InstallPDF starts the PDF converter's installer; and the file
# and product versions of its version resource. Each release
# sets its own values when it configures, for example
#
#   cmake --preset default -DVINSTALL_UPDATE_NOTICE="May 2025 Update installed on %02d-%02d-%4d"
#
# In every text the two characters \n stand for a line feed. The values are
# checked here, so that a release whose texts would be cut short or would
# produce a broken download address fails to configure instead.
#
# Produces ${VINSTALL_RELEASE_INCLUDE_DIR}/release_settings.h.

# Every text goes through WorkPath, 256 bytes with the terminating zero.
set(VINSTALL_WORK_PATH_SIZE 256)

set(_vinstall_release_settings
  VINSTALL_UPDATE_NOTICE
  VINSTALL_UPDATE_INSTALLER
  VINSTALL_UPDATE_DETAILS
  VINSTALL_MASTER_LOAD_NOTICE
  VINSTALL_MASTER_LOAD_INSTALLER
  VINSTALL_MASTER_LOAD_DETAILS
  VINSTALL_NO_UPDATE_NOTICE
  VINSTALL_DOWNLOAD_BASE
  VINSTALL_PDF_PARAMETERS)

set(_default_VINSTALL_UPDATE_NOTICE "June 2018 Update installed on %02d-%02d-%4d")
set(_default_VINSTALL_UPDATE_INSTALLER "/executables/Jun18Upd.exe")
set(_default_VINSTALL_UPDATE_DETAILS "/executables/Jun18Upd.pdf")
set(_default_VINSTALL_MASTER_LOAD_NOTICE "June 2018 Master Load installed on %02d-%02d-%4d")
set(_default_VINSTALL_MASTER_LOAD_INSTALLER "/executables/Aug16Upd.exe")
set(_default_VINSTALL_MASTER_LOAD_DETAILS "/executables/Aug16Upd.pdf")
set(_default_VINSTALL_NO_UPDATE_NOTICE
    "As of yet, there are no updates for the October 2021 Master Load.\\nTry again later.")
set(_default_VINSTALL_DOWNLOAD_BASE "http://download.velloran.example")
set(_default_VINSTALL_PDF_PARAMETERS "-s \"Velloran PDF Converter\"")

set(_doc_VINSTALL_UPDATE_NOTICE
    "Update.txt of UpdateInfo: month, day and year fill three %d conversions")
set(_doc_VINSTALL_UPDATE_INSTALLER "Path of the Update installer on the download server")
set(_doc_VINSTALL_UPDATE_DETAILS "Path of the Update details on the download server")
set(_doc_VINSTALL_MASTER_LOAD_NOTICE
    "Update.txt of MLDInfo: month, day and year fill three %d conversions")
set(_doc_VINSTALL_MASTER_LOAD_INSTALLER "Path of the Master Load installer on the download server")
set(_doc_VINSTALL_MASTER_LOAD_DETAILS "Path of the Master Load details on the download server")
set(_doc_VINSTALL_NO_UPDATE_NOTICE "Text of the Chk4TELDAX notice (\\n is a line feed)")
set(_doc_VINSTALL_DOWNLOAD_BASE "http://host of the download server, no closing slash")
set(_doc_VINSTALL_PDF_PARAMETERS "Parameters of c:\\teldax\\install.exe, starting with -s \"Velloran PDF Converter\"")

set(VINSTALL_RELEASE_DEFAULTS 1)
foreach(setting IN LISTS _vinstall_release_settings)
  set(${setting} "${_default_${setting}}" CACHE STRING "${_doc_${setting}}")
  if(NOT "${${setting}}" STREQUAL "${_default_${setting}}")
    set(VINSTALL_RELEASE_DEFAULTS 0)
  endif()
  if("${${setting}}" MATCHES "[\r\n]")
    message(FATAL_ERROR "${setting} holds a line break; write \\n for a line feed.")
  endif()
endforeach()

# Bytes of a text once built into the library (\n is one byte there).
function(_vinstall_text_length text out)
  string(REPLACE "\\n" "n" text "${text}")
  string(LENGTH "${text}" length)
  set(${out} ${length} PARENT_SCOPE)
endfunction()

# The base address: "http://" and a host, with an optional port, nothing after.
if(NOT VINSTALL_DOWNLOAD_BASE MATCHES "^http://[A-Za-z0-9.-]+(:[0-9]+)?$")
  if(VINSTALL_DOWNLOAD_BASE MATCHES "/$")
    set(_why "it ends in '/', and every path already begins with one")
  else()
    set(_why "it must be \"http://\" followed by a host name (and port) only")
  endif()
  message(FATAL_ERROR "VINSTALL_DOWNLOAD_BASE \"${VINSTALL_DOWNLOAD_BASE}\" is refused: ${_why}.")
endif()

# Every download address is the base address followed by a path.
foreach(path IN ITEMS VINSTALL_UPDATE_INSTALLER VINSTALL_UPDATE_DETAILS
                      VINSTALL_MASTER_LOAD_INSTALLER VINSTALL_MASTER_LOAD_DETAILS)
  if(NOT "${${path}}" MATCHES "^/[^ \"\\\\]*$")
    message(FATAL_ERROR "${path} \"${${path}}\" is refused: a download path begins with '/' "
                        "and holds no blank, double quote or backslash.")
  endif()
  _vinstall_text_length("${VINSTALL_DOWNLOAD_BASE}${${path}}" _length)
  if(_length GREATER_EQUAL VINSTALL_WORK_PATH_SIZE)
    message(FATAL_ERROR "VINSTALL_DOWNLOAD_BASE \"${VINSTALL_DOWNLOAD_BASE}\" followed by ${path} "
                        "\"${${path}}\" is ${_length} bytes; a download address must stay under "
                        "${VINSTALL_WORK_PATH_SIZE} bytes.")
  endif()
endforeach()

# A notice format is filled with month, day and year and nothing else: exactly
# three integer conversions (flags, width, 'd'), any other '%' doubled. Each
# value is at most 65535, so a conversion takes at most its width or five
# digits and a sign.
foreach(format IN ITEMS VINSTALL_UPDATE_NOTICE VINSTALL_MASTER_LOAD_NOTICE)
  set(_text "${${format}}")
  string(REPLACE "%%" "" _plain "${_text}")
  string(REGEX MATCHALL "%[^A-Za-z]*[A-Za-z]?" _conversions "${_plain}")
  list(LENGTH _conversions _count)
  _vinstall_text_length("${_plain}" _length)
  string(LENGTH "${_text}" _all)
  string(LENGTH "${_plain}" _without)
  math(EXPR _length "${_length} + (${_all} - ${_without}) / 2")
  foreach(conversion IN LISTS _conversions)
    if(NOT conversion MATCHES "^%([-+ 0]*)([0-9]*)d$")
      message(FATAL_ERROR "${format} \"${_text}\" is refused: \"${conversion}\" is not a %d "
                          "conversion; write a literal percent sign as %%.")
    endif()
    set(_widest 5)
    if(CMAKE_MATCH_1 MATCHES "[+ ]")
      set(_widest 6)
    endif()
    if(CMAKE_MATCH_2 AND CMAKE_MATCH_2 GREATER _widest)
      set(_widest ${CMAKE_MATCH_2})
    endif()
    string(LENGTH "${conversion}" _conversion_length)
    math(EXPR _length "${_length} - ${_conversion_length} + ${_widest}")
  endforeach()
  if(NOT _count EQUAL 3)
    message(FATAL_ERROR "${format} \"${_text}\" is refused: it needs exactly three %d conversions "
                        "(month, day, year), it has ${_count}.")
  endif()
  if(_length GREATER_EQUAL VINSTALL_WORK_PATH_SIZE)
    message(FATAL_ERROR "${format} \"${_text}\" is refused: filled with a date it may take "
                        "${_length} bytes; a notice must stay under ${VINSTALL_WORK_PATH_SIZE} bytes.")
  endif()
endforeach()

# The converter's installer is always started as "Velloran PDF Converter"; a
# release may add parameters after that.
string(FIND "${VINSTALL_PDF_PARAMETERS}" "${_default_VINSTALL_PDF_PARAMETERS}" _at)
if(NOT _at EQUAL 0)
  message(FATAL_ERROR "VINSTALL_PDF_PARAMETERS '${VINSTALL_PDF_PARAMETERS}' is refused: it must "
                      "begin with '${_default_VINSTALL_PDF_PARAMETERS}'.")
endif()
_vinstall_text_length("${VINSTALL_PDF_PARAMETERS}" _length)
if(_length GREATER_EQUAL VINSTALL_WORK_PATH_SIZE)
  message(FATAL_ERROR "VINSTALL_PDF_PARAMETERS is ${_length} bytes; the parameters must stay under "
                      "${VINSTALL_WORK_PATH_SIZE} bytes.")
endif()

# The versions that the version resource of VINSTALLDLL.dll records
# (Explorer's Properties, Details); res/version.rc takes them from
# release_settings.h.
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

# Each value becomes a C string literal: backslashes and double quotes are
# escaped, then the escaped \n turns back into the line feed escape.
foreach(setting IN LISTS _vinstall_release_settings)
  string(REPLACE "\\" "\\\\" _literal "${${setting}}")
  string(REPLACE "\"" "\\\"" _literal "${_literal}")
  string(REPLACE "\\\\n" "\\n" _literal "${_literal}")
  set(${setting}_LITERAL "\"${_literal}\"")
endforeach()

set(VINSTALL_RELEASE_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/release_settings.h.in
               ${VINSTALL_RELEASE_INCLUDE_DIR}/release_settings.h @ONLY)
