# Every .cpp in this folder belongs to the GLib-only core library.
file(GLOB DRAVLEN_DEVICE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)

# The firmware image carried by the client, embedded from DRAVLEN_FIRMWARE_HEX
# into a generated source at build time.
set(DRAVLEN_FIRMWARE_CPP ${CMAKE_BINARY_DIR}/generated/device/firmware_payload.cpp)
add_custom_command(
    OUTPUT ${DRAVLEN_FIRMWARE_CPP}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${DRAVLEN_FIRMWARE_HEX} -DOUTPUT=${DRAVLEN_FIRMWARE_CPP}
            -P ${CMAKE_SOURCE_DIR}/cmake/embed_firmware.cmake
    DEPENDS ${DRAVLEN_FIRMWARE_HEX} ${CMAKE_SOURCE_DIR}/cmake/embed_firmware.cmake
    COMMENT "Embedding firmware image ${DRAVLEN_FIRMWARE_HEX}"
    VERBATIM)
list(APPEND DRAVLEN_DEVICE_SOURCES ${DRAVLEN_FIRMWARE_CPP})
# Made once at configure time too, so that the packager sees which kind of
# image the build carries (the build remakes it when the file changes).
execute_process(
    COMMAND ${CMAKE_COMMAND} -DINPUT=${DRAVLEN_FIRMWARE_HEX} -DOUTPUT=${DRAVLEN_FIRMWARE_CPP}
            -P ${CMAKE_SOURCE_DIR}/cmake/embed_firmware.cmake
    RESULT_VARIABLE _embedded)
if(NOT _embedded EQUAL 0)
  message(FATAL_ERROR "DRAVLEN_FIRMWARE_HEX=${DRAVLEN_FIRMWARE_HEX} cannot be embedded")
endif()
file(STRINGS ${DRAVLEN_FIRMWARE_CPP} _test_image REGEX "firmware_is_test_image = 1")
if(_test_image)
  message(STATUS "Firmware: ${DRAVLEN_FIRMWARE_HEX} is the test image; "
                 "the programs will not flash it")
else()
  message(STATUS "Firmware: ${DRAVLEN_FIRMWARE_HEX} is flashed by update")
endif()
