# app/ holds both GLib-only code (core library) and GTK code (programs).
set(DRAVLEN_APP_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/operation_state.cpp)
file(GLOB _dravlen_opts CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/options.cpp)
list(APPEND DRAVLEN_APP_CORE_SOURCES ${_dravlen_opts})
