# Installation: both programs, the desktop entry, the icon in the hicolor
# theme and the message template for translators.
# Only the GTK build has programs to install.
if(NOT DRAVLEN_GUI)
  return()
endif()
include(GNUInstallDirs)

foreach(_prog dravlen-client dravlen-client40)
  if(TARGET ${_prog})
    install(TARGETS ${_prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

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
  add_test(NAME install_layout
           COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                   -DPREFIX=${CMAKE_BINARY_DIR}/install-check
                   -P ${CMAKE_SOURCE_DIR}/cmake/check_install.cmake)
endif()
