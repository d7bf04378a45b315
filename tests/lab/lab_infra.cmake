# Tests of the network lab itself: ordinary clients (Python's ssl and sockets,
# openssl s_client, curl, dig) inside tv-client prove each behaviour of the
# lab's DNS, TLS hosts, IP-information service and censor modes. Registered in
# the Linux build only; they test the lab, not the program.
if(NOT WIN32)
  set(_lab_dir ${CMAKE_CURRENT_LIST_DIR})
  set(_in_lab ${_lab_dir}/in-lab.sh)
  set(_py /usr/bin/python3)

  function(tv_lab_infra_test name)
    add_test(NAME ${name} COMMAND ${ARGN})
    set_tests_properties(${name} PROPERTIES LABELS lab RESOURCE_LOCK tv_lab TIMEOUT 300)
  endfunction()

  tv_lab_infra_test(lab_dns ${_in_lab} -- ${_py} ${_lab_dir}/infra/dns_check.py)
  tv_lab_infra_test(lab_tls ${_in_lab} -- ${_py} ${_lab_dir}/infra/tls_check.py)
  tv_lab_infra_test(lab_isolation ${_in_lab} -- ${_py} ${_lab_dir}/infra/isolation_check.py)

  foreach(mode open allowlist sni-rst sni-drop udp53-drop ip-block sni-block sni-allow edns-block
          fp-chrome throttle)
    tv_lab_infra_test(lab_censor_${mode}
                      ${_in_lab} --censor ${mode} -- ${_py} ${_lab_dir}/infra/censor_check.py ${mode})
  endforeach()
  tv_lab_infra_test(lab_censor_combined ${_in_lab} --censor allowlist sni-rst --
                    ${_py} ${_lab_dir}/infra/censor_check.py allowlist sni-rst)
  tv_lab_infra_test(lab_censor_lists ${_in_lab} --censor sni-rst=ya.ru ip-block=77.88.8.8 --
                    ${_py} ${_lab_dir}/infra/censor_check.py sni-rst=ya.ru ip-block=77.88.8.8)
  tv_lab_infra_test(lab_censor_cli ${_in_lab} -- ${_py} ${_lab_dir}/infra/censor_check.py cli)

  tv_lab_infra_test(lab_http ${_in_lab} -- ${_py} ${_lab_dir}/infra/http_check.py)
  tv_lab_infra_test(lab_resolvers ${_in_lab} -- ${_py} ${_lab_dir}/infra/resolver_check.py)
  foreach(mode edns-block dns-stub udp53-redirect)
    tv_lab_infra_test(lab_resolvers_${mode}
                      ${_in_lab} --censor ${mode} -- ${_py} ${_lab_dir}/infra/resolver_check.py ${mode})
  endforeach()
  foreach(mode freeze-down freeze-up freeze throttle)
    tv_lab_infra_test(lab_transfer_${mode}
                      ${_in_lab} --censor ${mode} -- ${_py} ${_lab_dir}/infra/transfer_check.py ${mode})
  endforeach()
  foreach(mode fp-chrome flaky flaky-nth sni-allow sni-block)
    tv_lab_infra_test(lab_hello_${mode}
                      ${_in_lab} --censor ${mode} -- ${_py} ${_lab_dir}/infra/hello_check.py ${mode})
  endforeach()
  # The list form of the address-targeted modes (one address, not the foreign set).
  tv_lab_infra_test(lab_hello_flaky-nth_list ${_in_lab} --censor flaky-nth=198.19.2.1 --
                    ${_py} ${_lab_dir}/infra/hello_check.py flaky-nth=198.19.2.1)
  tv_lab_infra_test(lab_delay ${_in_lab} --censor delay=50 sni-rst --
                    ${_py} ${_lab_dir}/infra/delay_check.py)

  foreach(mode success 403 long silent)
    tv_lab_infra_test(lab_ipinfo_${mode}
                      ${_in_lab} --ipinfo ${mode} -- ${_py} ${_lab_dir}/infra/ipinfo_check.py ${mode})
  endforeach()

  # down/up cycle: runs in the normal namespace (it removes the lab's
  # namespaces), takes the lab lock itself and leaves the lab up.
  tv_lab_infra_test(lab_cycle bash ${_lab_dir}/infra/cycle_check.sh)
endif()
