# Turns the Intel HEX firmware image into a C++ source holding it as one
# string constant, each record ended by CR LF.  Run in script mode:
#   cmake -DINPUT=<file.hex> -DOUTPUT=<file.cpp> -P embed_firmware.cmake
# The result is written under a temporary name and renamed, so that the
# 35- and 40-track libraries may both ask for it in a parallel build.
if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "embed_firmware.cmake needs INPUT and OUTPUT")
endif()
file(READ "${INPUT}" _hex)
string(REPLACE "\r" "" _hex "${_hex}")
string(REPLACE "\n" ";" _lines "${_hex}")
set(_body "")
set(_count 0)
set(_last "")
set(_data "")
foreach(_line IN LISTS _lines)
  if(_line STREQUAL "")
    continue()
  endif()
  if(NOT _line MATCHES "^:([0-9A-Fa-f][0-9A-Fa-f])+$")
    message(FATAL_ERROR "${INPUT}: not an Intel HEX record: ${_line}")
  endif()
  string(APPEND _body "    \"${_line}\\r\\n\"\n")
  # The data bytes of data records, run together as hex digits.
  if(_line MATCHES "^:([0-9A-Fa-f][0-9A-Fa-f])[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]00")
    math(EXPR _digits "0x${CMAKE_MATCH_1} * 2")
    string(SUBSTRING "${_line}" 9 ${_digits} _bytes)
    string(TOUPPER "${_bytes}" _bytes)
    string(APPEND _data "${_bytes}")
  endif()
  math(EXPR _count "${_count} + 1")
  set(_last "${_line}")
endforeach()
if(NOT _last STREQUAL ":00000001FF")
  message(FATAL_ERROR "${INPUT}: the image must end with the end-of-file record :00000001FF")
endif()
# The repository's test image says so in its data; it must never reach a
# board as if it were the firmware.
string(HEX "NOT THE DEVICE FIRMWARE" _marker)
string(TOUPPER "${_marker}" _marker)
string(FIND "${_data}" "${_marker}" _at)
if(_at EQUAL -1)
  set(_test_image 0)
else()
  set(_test_image 1)
endif()
get_filename_component(_name "${INPUT}" NAME)
string(REPLACE "\\" "\\\\" _name "${_name}")
string(REPLACE "\"" "\\\"" _name "${_name}")
set(_source "// Generated from ${INPUT} by cmake/embed_firmware.cmake; do not edit.
#include \"device/firmware.h\"

const char firmware[] =
${_body};
const int firmware_record_count = ${_count};
const int firmware_is_test_image = ${_test_image};
const char firmware_source_name[] = \"${_name}\";
")
string(RANDOM LENGTH 8 _tag)
file(WRITE "${OUTPUT}.${_tag}" "${_source}")
file(RENAME "${OUTPUT}.${_tag}" "${OUTPUT}")
