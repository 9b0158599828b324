# Most sources compile to the same object for 35 and 40 tracks; those are
# built once and linked into both programs.  Only the files named as per-track
# are built twice, with TRACKS defined.
#
# The shared objects are compiled without TRACKS and with -Werror=undef, so a
# shared file that comes to use the track count (directly or through a header
# such as image/d64.h) stops the build instead of silently mixing the two
# geometries: move it to its per-track list then.

# What every part of the client needs: the tree's include root, the
# generated version header, GLib and the gettext domain.
add_library(dravlen_base INTERFACE)
target_include_directories(dravlen_base INTERFACE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(dravlen_base INTERFACE PkgConfig::GLIB)
target_compile_definitions(dravlen_base INTERFACE GETTEXT_PACKAGE="dravlen-client")

# dravlen_split_tracks(<shared var> <per-track var> SOURCES <files>
#                      PER_TRACK <file names>)
# Sorts SOURCES by file name into the two lists.
function(dravlen_split_tracks shared_var per_var)
  cmake_parse_arguments(A "" "" "SOURCES;PER_TRACK" ${ARGN})
  set(shared)
  set(per)
  set(unmatched ${A_PER_TRACK})
  foreach(src ${A_SOURCES})
    get_filename_component(name ${src} NAME)
    if(name IN_LIST A_PER_TRACK)
      list(APPEND per ${src})
      list(REMOVE_ITEM unmatched ${name})
    else()
      list(APPEND shared ${src})
    endif()
  endforeach()
  if(unmatched)
    message(FATAL_ERROR "per-track sources not found: ${unmatched}")
  endif()
  set(${shared_var} ${shared} PARENT_SCOPE)
  set(${per_var} ${per} PARENT_SCOPE)
endfunction()

# dravlen_shared_objects(<name> <OBJECT|STATIC> <sources>): a library built
# once for both track counts.  OBJECT for sources that must all be linked
# (tests register themselves), STATIC for helpers taken as needed.
function(dravlen_shared_objects name kind)
  add_library(${name} ${kind} ${ARGN})
  target_compile_options(${name} PRIVATE -Werror=undef)
  target_link_libraries(${name} PUBLIC dravlen_base)
endfunction()
