# Tests of the MIDI output: the port logic and backends over the recording fake, and real
# transmission through the JACK fixture (tests/fixtures).
add_executable(kelvane_output_tests
  ${CMAKE_CURRENT_LIST_DIR}/port_core_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/output_service_test.cpp)
target_link_libraries(kelvane_output_tests PRIVATE kelvane_midi GTest::gtest_main)
target_include_directories(kelvane_output_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
kelvane_warnings(kelvane_output_tests)
gtest_discover_tests(kelvane_output_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST)

if(COMMAND kelvane_use_jack_fixture)
  add_executable(kelvane_output_jack_tests ${CMAKE_CURRENT_LIST_DIR}/output_jack_test.cpp)
  target_link_libraries(kelvane_output_jack_tests PRIVATE kelvane_midi GTest::gtest_main)
  kelvane_use_jack_fixture(kelvane_output_jack_tests)
  kelvane_warnings(kelvane_output_jack_tests)
  gtest_discover_tests(kelvane_output_jack_tests NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST
                       PROPERTIES ${KELVANE_JACK_TEST_PROPERTIES} TIMEOUT 120)
endif()
