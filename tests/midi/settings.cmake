# The settings store: the contract every registry store must meet (run here over the file store),
# the file store's own behaviour, and the settings logic over it. These run where the file store
# is the platform's store; on Windows the registry store instantiates reg_contract.cpp itself.
if(WIN32)
  return()
endif()
add_executable(midi_settings_tests
  reg_contract.cpp reg_contract.h
  reg_file_store_test.cpp
  settings_test.cpp
)
target_link_libraries(midi_settings_tests PRIVATE kelvane_midi kelvane_testsupport GTest::gtest_main)
kelvane_warnings(midi_settings_tests)
gtest_discover_tests(midi_settings_tests DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)
