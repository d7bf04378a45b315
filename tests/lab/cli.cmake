# tarnveil-cli end to end: per censor mode inside the lab, and bad input
# (no network) outside it. The Windows build runs the same script under Wine.
set(_cli_test ${CMAKE_CURRENT_LIST_DIR}/cli_lab_test.py)
set(_in_lab ${CMAKE_CURRENT_LIST_DIR}/in-lab.sh)
if(WIN32)
  # Fewer open repeats under Wine: each run there costs seconds of start-up.
  set(_cli_args --cli $<TARGET_FILE:tarnveil-cli> --wrapper ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh
                --repeat 5)
  set(_cli_label wine)
  set(_cli_env env TV_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-lab)
  set(_cli_prefix cli_wine)
else()
  set(_cli_args --cli $<TARGET_FILE:tarnveil-cli>)
  set(_cli_label lab)
  set(_cli_env env)
  set(_cli_prefix cli)
endif()

foreach(mode open allowlist sni-rst ip-block freeze-down freeze-up freeze throttle edns-block dns-stub
             udp53-redirect fp-chrome flaky sni-block sni-allow)
  add_test(NAME ${_cli_prefix}_${mode}
           COMMAND ${_in_lab} --censor ${mode} -- ${_cli_env} /usr/bin/python3 ${_cli_test} ${mode} ${_cli_args})
  set_tests_properties(${_cli_prefix}_${mode} PROPERTIES LABELS ${_cli_label} RESOURCE_LOCK tv_lab TIMEOUT 600)
endforeach()

# The open network with 20 ms each way.
add_test(NAME ${_cli_prefix}_delay
         COMMAND ${_in_lab} --censor delay=20 -- ${_cli_env} /usr/bin/python3 ${_cli_test} delay ${_cli_args})
set_tests_properties(${_cli_prefix}_delay PROPERTIES LABELS ${_cli_label} RESOURCE_LOCK tv_lab TIMEOUT 300)

# A server of the test's own in the client namespace, with a hostile certificate.
add_test(NAME ${_cli_prefix}_hostile
         COMMAND ${_in_lab} --censor open -- ${_cli_env} /usr/bin/python3 ${_cli_test} hostile ${_cli_args})
set_tests_properties(${_cli_prefix}_hostile PROPERTIES LABELS ${_cli_label} RESOURCE_LOCK tv_lab TIMEOUT 300)

add_test(NAME ${_cli_prefix}_usage COMMAND /usr/bin/python3 ${_cli_test} usage ${_cli_args})
set_tests_properties(${_cli_prefix}_usage PROPERTIES LABELS "${_cli_label}" TIMEOUT 300)
if(WIN32)
  set_tests_properties(${_cli_prefix}_usage PROPERTIES FIXTURES_REQUIRED wine_prefix)
endif()
