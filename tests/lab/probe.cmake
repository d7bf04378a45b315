# The probe engine in the network lab: one gtest program, one CTest test per
# lab set-up (censor mode or IP-information mode), each run through in-lab.sh.
# The Windows build compiles the same source; its tests run under Wine with a
# prefix whose wineserver lives in the lab.
add_executable(probe_lab_tests ${CMAKE_CURRENT_LIST_DIR}/probe_lab_test.cpp
               ${CMAKE_CURRENT_LIST_DIR}/transfer_lab_test.cpp
               ${CMAKE_CURRENT_LIST_DIR}/probe_lab_dns_test.cpp
               ${CMAKE_CURRENT_LIST_DIR}/hello_lab_test.cpp)
tv_target_defaults(probe_lab_tests)
target_link_libraries(probe_lab_tests PRIVATE tv_probe GTest::gtest_main)

set(_probe_in_lab ${CMAKE_CURRENT_LIST_DIR}/in-lab.sh)
if(WIN32)
  set(_probe_env TV_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-lab)
  set(_probe_run ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:probe_lab_tests>)
  set(_probe_label wine)
  set(_probe_prefix probe_lab_wine)
else()
  set(_probe_env)
  set(_probe_run $<TARGET_FILE:probe_lab_tests>)
  set(_probe_label lab)
  set(_probe_prefix probe_lab)
endif()

# tv_probe_lab_test(<name> <gtest suite> <in-lab.sh options> [ENV var=value...])
function(tv_probe_lab_test name suite)
  cmake_parse_arguments(PARSE_ARGV 2 T "" "" "ENV")
  add_test(NAME ${_probe_prefix}_${name}
           COMMAND ${_probe_in_lab} ${T_UNPARSED_ARGUMENTS} -- env ${_probe_env} ${T_ENV}
                   ${_probe_run} --gtest_filter=${suite}.*)
  set_tests_properties(${_probe_prefix}_${name} PROPERTIES LABELS ${_probe_label}
                       RESOURCE_LOCK tv_lab TIMEOUT 300)
endfunction()

tv_probe_lab_test(open ProbeLabOpen --censor open)
tv_probe_lab_test(allowlist ProbeLabAllowlist --censor allowlist)
tv_probe_lab_test(sni_rst ProbeLabSniRst --censor sni-rst)
tv_probe_lab_test(sni_drop ProbeLabSniDrop --censor sni-drop)
tv_probe_lab_test(udp53_drop ProbeLabUdp53Drop --censor udp53-drop)
tv_probe_lab_test(edns_block ProbeLabEdnsBlock --censor edns-block)
tv_probe_lab_test(dns_stub ProbeLabDnsStub --censor dns-stub)
tv_probe_lab_test(udp53_redirect ProbeLabUdp53Redirect --censor udp53-redirect)
# A proxy in the environment must not be used.
tv_probe_lab_test(ipinfo_success ProbeLabIpInfoSuccess --ipinfo success
                  ENV http_proxy=http://203.0.113.10:3128 HTTP_PROXY=http://203.0.113.10:3128
                      all_proxy=http://203.0.113.10:3128)
tv_probe_lab_test(xfer_open ProbeLabXferOpen --censor open)
tv_probe_lab_test(xfer_freeze_down ProbeLabXferFreezeDown --censor freeze-down)
tv_probe_lab_test(xfer_freeze_up ProbeLabXferFreezeUp --censor freeze-up)
tv_probe_lab_test(xfer_freeze ProbeLabXferFreeze --censor freeze)
tv_probe_lab_test(xfer_throttle ProbeLabXferThrottle --censor throttle)
tv_probe_lab_test(hello_open ProbeLabHelloOpen --censor open)
tv_probe_lab_test(hello_fp_chrome ProbeLabHelloFpChrome --censor fp-chrome)
tv_probe_lab_test(ipinfo_403 ProbeLabIpInfo403 --ipinfo 403)
tv_probe_lab_test(ipinfo_long ProbeLabIpInfoLong --ipinfo long)
tv_probe_lab_test(ipinfo_silent ProbeLabIpInfoSilent --ipinfo silent)
