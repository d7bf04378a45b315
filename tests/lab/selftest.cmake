# `tarnveil --selftest` in the lab, per censor mode, checked line by line.
set(_st_test ${CMAKE_CURRENT_LIST_DIR}/selftest_lab_test.py)
set(_in_lab ${CMAKE_CURRENT_LIST_DIR}/in-lab.sh)
foreach(mode open allowlist)
  if(WIN32)
    add_test(NAME selftest_wine_${mode}
             COMMAND ${_in_lab} --censor ${mode} -- env TV_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-lab
                     /usr/bin/python3 ${_st_test} ${mode} --exe $<TARGET_FILE:tarnveil>
                     --wrapper ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh)
    set_tests_properties(selftest_wine_${mode} PROPERTIES LABELS wine RESOURCE_LOCK tv_lab TIMEOUT 600)
  else()
    add_test(NAME selftest_${mode}
             COMMAND ${_in_lab} --censor ${mode} -- /usr/bin/python3 ${_st_test} ${mode}
                     --exe $<TARGET_FILE:tarnveil>)
    set_tests_properties(selftest_${mode} PROPERTIES LABELS lab RESOURCE_LOCK tv_lab TIMEOUT 600)
  endif()
endforeach()
