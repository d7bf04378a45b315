# The window program. On Windows a GUI-subsystem exe with its version record.
if(WIN32)
  add_executable(tarnveil WIN32 app/main_win.cpp app/version.rc)
  target_link_options(tarnveil PRIVATE -municode)
else()
  add_executable(tarnveil app/main_posix.cpp)
endif()
tv_target_defaults(tarnveil)
target_link_libraries(tarnveil PRIVATE tv_app tv_window tv_bridge tv_shell tv_probe tv_page)
# tv_app and tv_window call into each other through window mode.
set_property(TARGET tarnveil PROPERTY LINK_INTERFACE_MULTIPLICITY 3)
