#pragma once
// What every registry store must do for the settings to work, as one value-parameterised suite.
// A store joins it with
//   INSTANTIATE_TEST_SUITE_P(MyStore, RegistryStoreContract,
//                            ::testing::Values(RegistryStoreFactory{"MyStore", make, remove}),
//                            RegistryStoreFactoryName);
// Each test opens keys of its own under "Software\Kelvane-Tests\<test name>", so the suite can run
// against the real registry, and uses only portable calls.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/RegistryStore.h"

struct RegistryStoreFactory {
    std::string label;  // part of the test names: letters, digits and '_' only
    std::function<std::unique_ptr<settings::RegistryStore>()> make;
    // Called after each test with every key it opened; empty for stores that vanish with the test.
    std::function<void(const std::string& subKey)> removeKey;
};

std::string RegistryStoreFactoryName(const ::testing::TestParamInfo<RegistryStoreFactory>& info);

class RegistryStoreContract : public ::testing::TestWithParam<RegistryStoreFactory> {
protected:
    void SetUp() override;
    void TearDown() override;
    // Opens (creates) this test's key, or the key `suffix` below it. Fails the test when it cannot.
    std::unique_ptr<settings::RegistryKey> OpenKey(const std::string& suffix = "");

    std::unique_ptr<settings::RegistryStore> store_;
    std::vector<std::string> keysOpened_;
};
