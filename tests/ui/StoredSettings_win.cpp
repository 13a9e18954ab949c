#include "StoredSettings.h"

#include <stdexcept>

#include <windows.h>

#include "settings/Settings.h"

namespace uitest {

SettingsPlace::SettingsPlace(const std::filesystem::path&) {
    mutex_ = ::CreateMutexW(nullptr, FALSE, L"Local\\kelvane-tests-ZORVIK");
    if (mutex_ == nullptr) throw std::runtime_error("CreateMutexW failed");
    // Generous: other test processes hold the key for a test case or a whole window-test process.
    const DWORD wait = ::WaitForSingleObject(mutex_, 600000);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        ::CloseHandle(mutex_);
        throw std::runtime_error("the settings key stayed taken by another test process");
    }
    ForgetStoredSettings();
}

SettingsPlace::~SettingsPlace() {
    ForgetStoredSettings();
    ::ReleaseMutex(mutex_);
    ::CloseHandle(mutex_);
}

void ForgetStoredSettings() { ::RegDeleteKeyA(HKEY_CURRENT_USER, settings::SettingsKeyName); }

void StoreSettings(const std::vector<StoredValue>& values) {
    ForgetStoredSettings();
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, settings::SettingsKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("RegCreateKeyExA failed");
    }
    for (const StoredValue& value : values) {
        const LSTATUS status = ::RegSetValueExA(key, value.name.c_str(), 0, value.type, value.bytes.data(),
                                                static_cast<DWORD>(value.bytes.size()));
        if (status != ERROR_SUCCESS) {
            ::RegCloseKey(key);
            throw std::runtime_error("RegSetValueExA failed for " + value.name);
        }
    }
    ::RegCloseKey(key);
}

}  // namespace uitest
