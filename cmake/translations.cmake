# Compiles every catalogue named in po/LINGUAS into
# <build>/locale/<lang>/LC_MESSAGES/dravlen-client.mo and installs it.
# The build-tree folder has the installed layout, so tests can bind the
# text domain to it before the programs are installed.
if(NOT DRAVLEN_GUI)
  return()
endif()
include(GNUInstallDirs)

find_program(DRAVLEN_MSGFMT msgfmt)
if(NOT DRAVLEN_MSGFMT)
  message(WARNING "msgfmt not found (Debian package gettext): translations are not built")
  return()
endif()

set(DRAVLEN_BUILD_LOCALEDIR ${CMAKE_BINARY_DIR}/locale)
file(STRINGS ${CMAKE_SOURCE_DIR}/po/LINGUAS _langs REGEX "^[^#]")
set(_mo_files "")
set(DRAVLEN_LANGUAGES "")
foreach(_lang IN LISTS _langs)
  string(STRIP "${_lang}" _lang)
  set(_po ${CMAKE_SOURCE_DIR}/po/${_lang}.po)
  set(_mo ${DRAVLEN_BUILD_LOCALEDIR}/${_lang}/LC_MESSAGES/dravlen-client.mo)
  add_custom_command(OUTPUT ${_mo}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${DRAVLEN_BUILD_LOCALEDIR}/${_lang}/LC_MESSAGES
      # -c refuses a translation whose format specifiers differ from the
      # original's, which would crash the printf that uses it.
      COMMAND ${DRAVLEN_MSGFMT} -c -o ${_mo} ${_po}
      DEPENDS ${_po}
      COMMENT "Compiling the ${_lang} translation")
  list(APPEND _mo_files ${_mo})
  list(APPEND DRAVLEN_LANGUAGES ${_lang})
  install(FILES ${_mo} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${_lang}/LC_MESSAGES)
endforeach()
add_custom_target(dravlen-translations ALL DEPENDS ${_mo_files})
