# Installation: the programs with their manual pages and bash completion,
# the desktop entry, the AppStream metainfo, the icon in the hicolor theme,
# the udev rule for the board, the compiled translations and the message
# template.
include(GNUInstallDirs)

# Every installed program has man/<program>.1, or man/<program>.1.in that
# gets the version filled in.  The command-line programs are built without
# GTK too.
set(DRAVLEN_INSTALLED_PROGRAMS
    dravlen-client
    dravlen-client40
    dravlen
    dravlen40
)
foreach(_prog IN LISTS DRAVLEN_INSTALLED_PROGRAMS)
  if(TARGET ${_prog})
    install(TARGETS ${_prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    set(_page ${CMAKE_SOURCE_DIR}/man/${_prog}.1)
    if(EXISTS ${_page}.in)
      configure_file(${_page}.in ${CMAKE_BINARY_DIR}/man/${_prog}.1 @ONLY)
      set(_page ${CMAKE_BINARY_DIR}/man/${_prog}.1)
    endif()
    install(FILES ${_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

# Bash completion, one file for both command-line programs: bash looks it up
# by the command's name.
foreach(_prog dravlen dravlen40)
  if(TARGET ${_prog})
    install(FILES ${CMAKE_SOURCE_DIR}/data/bash-completion/dravlen
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${_prog})
  endif()
endforeach()

# The rest belongs to the GTK build.
if(NOT DRAVLEN_GUI)
  return()
endif()

# Relative to the prefix unless absolute: Debian 12 packages put rules in
# /lib/udev/rules.d, whatever the prefix.
set(DRAVLEN_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Folder for the board's udev rule (relative to the install prefix, or absolute)")
install(FILES ${CMAKE_SOURCE_DIR}/data/60-dravlen.rules DESTINATION ${DRAVLEN_UDEV_RULES_DIR})
configure_file(${CMAKE_SOURCE_DIR}/data/dravlen-client.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/data/dravlen-client.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/dravlen-client.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

install(FILES ${CMAKE_SOURCE_DIR}/data/dravlen-client.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/dravlen-client.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(_size 48 128)
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/dravlen-client-${_size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
          RENAME dravlen-client.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/po/dravlen-client.pot
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dravlen-client)

# Installs into a scratch prefix and checks that everything the desktop
# entry names is there.
if(DRAVLEN_TESTS AND NOT DRAVLEN_FUZZ AND TARGET dravlen-client)
  # Lists travel comma-separated: a semicolon would split the argument.
  string(REPLACE ";" "," _programs "${DRAVLEN_INSTALLED_PROGRAMS}")
  string(REPLACE ";" "," _languages "${DRAVLEN_LANGUAGES}")
  add_test(NAME install_layout
           COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                   -DPREFIX=${CMAKE_BINARY_DIR}/install-check
                   -DPROGRAMS=${_programs}
                   -DLANGUAGES=${_languages}
                   -DUDEV_RULES_DIR=${DRAVLEN_UDEV_RULES_DIR}
                   -P ${CMAKE_SOURCE_DIR}/cmake/check_install.cmake)
endif()

# The desktop entry and the metainfo as desktops and software centres read
# them, when the validators are installed.
if(DRAVLEN_TESTS AND NOT DRAVLEN_FUZZ)
  find_program(DRAVLEN_DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DRAVLEN_DESKTOP_FILE_VALIDATE)
    add_test(NAME desktop_entry_valid
             COMMAND ${DRAVLEN_DESKTOP_FILE_VALIDATE} ${CMAKE_SOURCE_DIR}/data/dravlen-client.desktop)
  endif()
  find_program(DRAVLEN_APPSTREAMCLI appstreamcli)
  if(DRAVLEN_APPSTREAMCLI)
    add_test(NAME metainfo_valid
             COMMAND ${DRAVLEN_APPSTREAMCLI} validate --no-net
                     ${CMAKE_BINARY_DIR}/data/dravlen-client.metainfo.xml)
  endif()
endif()
