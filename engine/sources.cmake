# The UI-free engine: GLib only, part of the core library.
file(GLOB DRAVLEN_ENGINE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
