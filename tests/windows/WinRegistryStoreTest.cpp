// The registry store over Wine's (or Windows') real registry: the shared contract every store
// keeps, then the settings themselves under HKEY_CURRENT_USER\ZORVIK.

#include <gtest/gtest.h>

#include <windows.h>

#include "common/Failure.h"
#include "settings/Settings.h"
#include "settings/WinRegistryStore.h"
#include "reg_contract.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

INSTANTIATE_TEST_SUITE_P(
    WindowsRegistry, RegistryStoreContract,
    ::testing::Values(RegistryStoreFactory{
        "Registry", [] { return std::make_unique<settings::WinRegistryStore>(); },
        [](const std::string& subKey) { ::RegDeleteKeyA(HKEY_CURRENT_USER, subKey.c_str()); }}),
    RegistryStoreFactoryName);

// The settings' key is one fixed name under HKEY_CURRENT_USER, and ctest runs test processes
// side by side in one Wine prefix, so every test here holds a machine-wide mutex while it uses
// the key, and leaves it deleted.
class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override {
        mutex_ = ::CreateMutexW(nullptr, FALSE, L"Local\\kelvane-tests-ZORVIK");
        ASSERT_NE(mutex_, nullptr);
        const DWORD wait = ::WaitForSingleObject(mutex_, 60000);
        ASSERT_TRUE(wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) << wait;
        owned_ = true;
        ::RegDeleteKeyA(HKEY_CURRENT_USER, settings::SettingsKeyName);
        settings::ResetSettingsForTests();
    }
    void TearDown() override {
        ::RegDeleteKeyA(HKEY_CURRENT_USER, settings::SettingsKeyName);
        if (owned_) ::ReleaseMutex(mutex_);
        if (mutex_ != nullptr) ::CloseHandle(mutex_);
    }

    // Stores a value straight through the registry API, as another program (or regedit) would.
    static void Put(const char* name, DWORD type, const Bytes& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, settings::SettingsKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExA(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
        ::RegCloseKey(key);
    }

    // What the registry itself holds: type and bytes, or nothing when the value is absent.
    static std::optional<std::pair<DWORD, Bytes>> Get(const char* name) {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, settings::SettingsKeyName, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        DWORD type = 0;
        Bytes bytes(64);
        DWORD size = static_cast<DWORD>(bytes.size());
        const LONG result = ::RegQueryValueExA(key, name, nullptr, &type, bytes.data(), &size);
        ::RegCloseKey(key);
        if (result != ERROR_SUCCESS) return std::nullopt;
        bytes.resize(size);
        return std::make_pair(type, bytes);
    }

    static bool KeyExists() {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, settings::SettingsKeyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        ::RegCloseKey(key);
        return true;
    }

    static std::string LoadFailure() {
        try {
            settings::MIDI_Reg(settings::LoadMode, store_);
        } catch (const kelvane::Failure& failure) {
            return failure.what();
        }
        return "(no failure)";
    }

    static inline settings::WinRegistryStore store_;

private:
    HANDLE mutex_ = nullptr;
    bool owned_ = false;
};

// The platform's own store is the registry, and a save leaves two one-byte binary values.
TEST_F(RegistrySettings, SaveThroughThePlatformStoreWritesTwoOneByteBinaryValues) {
    settings::InPortSetting = 7;
    settings::OutPortSetting = 3;
    settings::MIDI_Reg(settings::SaveMode, settings::DefaultRegistryStore());
    EXPECT_EQ(Get("KELV_In"), std::make_pair(DWORD{REG_BINARY}, Bytes{7}));
    EXPECT_EQ(Get("KELV_Out"), std::make_pair(DWORD{REG_BINARY}, Bytes{3}));
}

TEST_F(RegistrySettings, LoadOfAMissingKeyCreatesItAndKeepsBothBytes) {
    settings::InPortSetting = 4;
    settings::OutPortSetting = 5;
    EXPECT_EQ(LoadFailure(), "(no failure)");
    EXPECT_TRUE(KeyExists());
    EXPECT_EQ(settings::InPortSetting, 4);
    EXPECT_EQ(settings::OutPortSetting, 5);
}

// Values put there by other programs, read back through the two-step "A" query.
TEST_F(RegistrySettings, LoadJudgesWhatOthersStored) {
    struct Case {
        const char* what;
        DWORD type;
        Bytes bytes;
        std::uint8_t expectedOut;  // OutPortSetting afterwards (it starts at 0x55)
        const char* failure;
    };
    const Case cases[] = {
        {"one binary byte", REG_BINARY, {3}, 3, "(no failure)"},
        {"no bytes", REG_BINARY, {}, 0x55, "(no failure)"},
        {"one byte of REG_NONE", REG_NONE, {9}, 9, "(no failure)"},
        {"two binary bytes", REG_BINARY, {3, 0}, 0x55, "'KELV_Out' のデータ型が不正です"},
        {"a DWORD", REG_DWORD, {3, 0, 0, 0}, 0x55, "'KELV_Out' のデータ型が不正です"},
        {"an empty string", REG_SZ, {0}, 0x55, "'KELV_Out' のデータ型が不正です"},
        {"an expandable string", REG_EXPAND_SZ, {0}, 0x55, "'KELV_Out' のデータ型が不正です"},
    };
    for (const auto& c : cases) {
        Put("KELV_In", REG_BINARY, {2});
        Put("KELV_Out", c.type, c.bytes);
        settings::InPortSetting = 0;
        settings::OutPortSetting = 0x55;
        EXPECT_EQ(LoadFailure(), c.failure) << c.what;
        EXPECT_EQ(settings::InPortSetting, 2) << c.what;
        EXPECT_EQ(settings::OutPortSetting, c.expectedOut) << c.what;
    }
}

}  // namespace
