# Both builds on the same lab cases: the Windows build's tarnveil-cli under
# Wine against the Linux build's one, per censor mode, compared word by word
# (compare_lab.py prints the table). Registered in the Windows build, which
# scripts/test.sh runs after the Linux one; the Linux build directory is the
# sibling of this one (windows -> linux, <name>-win -> <name>-linux) unless
# TV_LINUX_BUILD_DIR says otherwise.
if(WIN32)
  get_filename_component(_cmp_parent ${CMAKE_BINARY_DIR} DIRECTORY)
  get_filename_component(_cmp_name ${CMAKE_BINARY_DIR} NAME)
  string(REGEX REPLACE "(windows|win)$" "linux" _cmp_peer_name "${_cmp_name}")
  set(TV_LINUX_BUILD_DIR ${_cmp_parent}/${_cmp_peer_name} CACHE PATH
      "Linux build directory whose tarnveil-cli the lab comparison runs")

  foreach(mode open allowlist sni-rst udp53-drop edns-block dns-stub udp53-redirect)
    string(REPLACE "-" "_" _cmp_id ${mode})
    add_test(NAME compare_lab_${_cmp_id}
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/in-lab.sh --censor ${mode} --
                     env TV_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-lab
                     /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/compare_lab.py ${mode}
                     --linux-cli ${TV_LINUX_BUILD_DIR}/tarnveil-cli
                     --windows-cli $<TARGET_FILE:tarnveil-cli>
                     --wrapper ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh)
    set_tests_properties(compare_lab_${_cmp_id} PROPERTIES LABELS "lab;wine"
                         RESOURCE_LOCK tv_lab TIMEOUT 600 SKIP_RETURN_CODE 77)
  endforeach()
endif()
