# The one rule that picks platform files: a file whose name ends in a backend
# suffix is taken only on its platform; every other file is shared. A suffix
# that names a platform or a backend the build does not know stops the
# configure step, so such a file is never silently compiled everywhere.
set(TV_SUFFIXES_WIN _win _schannel _winhttp)
set(TV_SUFFIXES_POSIX _posix _openssl _curl _gtk)
# Words that would read as a platform or backend suffix but are none of ours.
set(TV_UNKNOWN_SUFFIXES _mac _macos _darwin _apple _cocoa _linux _unix _bsd _android _ios
    _x11 _wayland _qt _gnutls _mbedtls _wolfssl _nss _libressl _boringssl _sspi _wininet
    _winrt _uwp _wasm _emscripten _epoll _kqueue _iocp)
if(WIN32)
  set(TV_MY_SUFFIXES ${TV_SUFFIXES_WIN})
  set(TV_OTHER_SUFFIXES ${TV_SUFFIXES_POSIX})
else()
  set(TV_MY_SUFFIXES ${TV_SUFFIXES_POSIX})
  set(TV_OTHER_SUFFIXES ${TV_SUFFIXES_WIN})
endif()

# tv_pick_sources(<out> <files...>): the files of this platform among <files>.
# A trailing "_test" is looked through (foo_win_test.cpp is a Windows file).
function(tv_pick_sources out)
  set(keep)
  foreach(f IN LISTS ARGN)
    get_filename_component(stem "${f}" NAME_WE)
    string(REGEX REPLACE "_test$" "" stem "${stem}")
    set(skip FALSE)
    foreach(suf IN LISTS TV_OTHER_SUFFIXES)
      if(stem MATCHES "${suf}$")
        set(skip TRUE)
      endif()
    endforeach()
    foreach(suf IN LISTS TV_UNKNOWN_SUFFIXES)
      if(stem MATCHES "${suf}$")
        message(FATAL_ERROR "${f}: the suffix ${suf} is no platform or backend this build knows "
                            "(known: ${TV_SUFFIXES_WIN} ${TV_SUFFIXES_POSIX})")
      endif()
    endforeach()
    if(NOT skip)
      list(APPEND keep "${f}")
    endif()
  endforeach()
  set(${out} ${keep} PARENT_SCOPE)
endfunction()

# tv_glob_sources(<out> <dir>... [PATTERN <glob>]): the *.cpp (or <glob>) files
# of the directories, picked by tv_pick_sources.
function(tv_glob_sources out)
  cmake_parse_arguments(PARSE_ARGV 1 G "" "PATTERN" "")
  if(NOT G_PATTERN)
    set(G_PATTERN "*.cpp")
  endif()
  set(all)
  foreach(dir IN LISTS G_UNPARSED_ARGUMENTS)
    file(GLOB found CONFIGURE_DEPENDS "${dir}/${G_PATTERN}")
    list(APPEND all ${found})
  endforeach()
  tv_pick_sources(keep ${all})
  set(${out} ${keep} PARENT_SCOPE)
endfunction()

# tv_platform_dir_sources(<out> <dir>): like tv_glob_sources, for a directory
# that holds platform files only: every file there must carry a known suffix.
function(tv_platform_dir_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS "${dir}/*.cpp")
  foreach(f IN LISTS all)
    get_filename_component(stem "${f}" NAME_WE)
    set(known FALSE)
    foreach(suf IN LISTS TV_SUFFIXES_WIN TV_SUFFIXES_POSIX)
      if(stem MATCHES "${suf}$")
        set(known TRUE)
      endif()
    endforeach()
    if(NOT known)
      message(FATAL_ERROR "${f}: a file of a platform directory needs a platform suffix")
    endif()
  endforeach()
  tv_pick_sources(keep ${all})
  set(${out} ${keep} PARENT_SCOPE)
endfunction()
