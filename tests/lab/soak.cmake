# The soak test: twenty scans of 3000 jobs through the command channel, in the
# lab (Linux; it reads /proc/self). Label `soak` besides `lab`.
if(NOT WIN32)
  add_executable(soak_lab_tests ${CMAKE_CURRENT_LIST_DIR}/soak_lab_test.cpp)
  tv_target_defaults(soak_lab_tests)
  target_link_libraries(soak_lab_tests PRIVATE tv_bridge GTest::gtest_main)
  add_test(NAME soak_lab COMMAND ${CMAKE_CURRENT_LIST_DIR}/in-lab.sh --censor open --
                                 $<TARGET_FILE:soak_lab_tests>)
  set_tests_properties(soak_lab PROPERTIES LABELS "lab;soak" RESOURCE_LOCK tv_lab TIMEOUT 900)
endif()
