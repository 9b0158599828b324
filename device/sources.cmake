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
