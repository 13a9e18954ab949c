#pragma once
// The remembered port where this platform keeps it, put there by a test as another program (or
// regedit) would: a .reg file in the config folder on Linux, the registry key
// HKEY_CURRENT_USER\ZORVIK on Windows.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace uitest {

struct StoredValue {
    std::string name;
    std::uint32_t type;  // the registry's type number (settings::RegBinary, settings::RegDword)
    std::vector<std::uint8_t> bytes;
};

// Gives this test process a settings place of its own for its lifetime. On Linux that is the
// config folder `home`. On Windows every test process of one Wine prefix shares the one key, so
// the process holds a machine-wide mutex (the one the Windows registry tests take too) and finds
// and leaves the key deleted.
class SettingsPlace {
public:
    explicit SettingsPlace(const std::filesystem::path& home);
    ~SettingsPlace();
    SettingsPlace(const SettingsPlace&) = delete;
    SettingsPlace& operator=(const SettingsPlace&) = delete;

private:
    void* mutex_ = nullptr;
};

// Removes every stored value, and the key or file that holds them.
void ForgetStoredSettings();

// Replaces what is stored with exactly these values.
void StoreSettings(const std::vector<StoredValue>& values);

}  // namespace uitest
