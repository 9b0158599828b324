# GTK part of the programs: everything below gui/ but gui/app/main.cpp.
# Built once per track count as a static library that both the program and
# the GUI tests link.
file(GLOB _gui_sources CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/gui/app/*.cpp
     ${CMAKE_SOURCE_DIR}/gui/jobs/*.cpp
     ${CMAKE_SOURCE_DIR}/gui/windows/*.cpp
     ${CMAKE_SOURCE_DIR}/gui/drawing/*.cpp)
list(REMOVE_ITEM _gui_sources ${CMAKE_SOURCE_DIR}/gui/app/main.cpp)
set(DRAVLEN_GUI_SOURCES ${_gui_sources})

set(DRAVLEN_HAVE_GUI_LIB OFF)
if(DRAVLEN_GUI_SOURCES)
  set(DRAVLEN_HAVE_GUI_LIB ON)
  dravlen_split_tracks(_gui_shared _gui_per_track
      SOURCES ${DRAVLEN_GUI_SOURCES}
      PER_TRACK startup.cpp disk_checks_job.cpp imaging_job.cpp merge_job.cpp rereads_job.cpp
                special_dumps_job.cpp dirview.cpp dirview_panel.cpp dialogs.cpp filechooser.cpp
                sector_grid.cpp)
  dravlen_shared_objects(dravlen_gui_shared OBJECT ${_gui_shared})
  target_link_libraries(dravlen_gui_shared PUBLIC PkgConfig::GTK2)
  target_compile_definitions(dravlen_gui_shared PUBLIC
      DRAVLEN_LOCALEDIR="${CMAKE_INSTALL_PREFIX}/share/locale")
  foreach(T 35 40)
    add_library(dravlen_gui${T} STATIC ${_gui_per_track})
    target_link_libraries(dravlen_gui${T} PUBLIC dravlen_gui_shared dravlen_core${T} PkgConfig::GTK2)
  endforeach()
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/gui/app/main.cpp AND DRAVLEN_HAVE_GUI_LIB)
  dravlen_shared_objects(dravlen_gui_main OBJECT ${CMAKE_SOURCE_DIR}/gui/app/main.cpp)
  target_link_libraries(dravlen_gui_main PUBLIC PkgConfig::GTK2)
  target_compile_definitions(dravlen_gui_main PUBLIC
      DRAVLEN_LOCALEDIR="${CMAKE_INSTALL_PREFIX}/share/locale")
  foreach(T 35 40)
    if(T EQUAL 35)
      set(_prog dravlen-client)
    else()
      set(_prog dravlen-client40)
    endif()
    add_executable(${_prog} $<TARGET_OBJECTS:dravlen_gui_main>)
    target_link_libraries(${_prog} PRIVATE dravlen_gui${T})
    # Signal handlers are connected by name from the window builders.
    set_target_properties(${_prog} PROPERTIES ENABLE_EXPORTS ON LINKER_LANGUAGE CXX)
  endforeach()
endif()

# Message template for translators: `cmake --build <dir> --target dravlen-pot`
# rewrites po/dravlen-client.pot from the sources.
find_program(DRAVLEN_XGETTEXT xgettext)
if(DRAVLEN_XGETTEXT)
  add_custom_target(dravlen-pot
      COMMAND bash ${CMAKE_SOURCE_DIR}/po/update-pot.sh
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      COMMENT "Regenerating po/dravlen-client.pot")
endif()
