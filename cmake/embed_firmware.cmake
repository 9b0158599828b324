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
foreach(_line IN LISTS _lines)
  if(_line STREQUAL "")
    continue()
  endif()
  if(NOT _line MATCHES "^:([0-9A-Fa-f][0-9A-Fa-f])+$")
    message(FATAL_ERROR "${INPUT}: not an Intel HEX record: ${_line}")
  endif()
  string(APPEND _body "    \"${_line}\\r\\n\"\n")
  math(EXPR _count "${_count} + 1")
  set(_last "${_line}")
endforeach()
if(NOT _last STREQUAL ":00000001FF")
  message(FATAL_ERROR "${INPUT}: the image must end with the end-of-file record :00000001FF")
endif()
set(_source "// Generated from ${INPUT} by cmake/embed_firmware.cmake; do not edit.
#include \"device/firmware.h\"

const char firmware[] =
${_body};
const int firmware_record_count = ${_count};
")
string(RANDOM LENGTH 8 _tag)
file(WRITE "${OUTPUT}.${_tag}" "${_source}")
file(RENAME "${OUTPUT}.${_tag}" "${OUTPUT}")
