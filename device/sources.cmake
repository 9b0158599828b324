# Every .cpp in this folder belongs to the GLib-only core library.
file(GLOB DRAVLEN_DEVICE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
