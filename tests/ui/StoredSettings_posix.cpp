#include "StoredSettings.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "settings/RegistryStore.h"
#include "settings/Settings.h"

namespace uitest {

namespace {

std::filesystem::path RegFile() {
    const char* home = std::getenv("XDG_CONFIG_HOME");
    if (home == nullptr) throw std::logic_error("no SettingsPlace in this test process");
    return std::filesystem::path(home) / (std::string(settings::SettingsKeyName) + ".reg");
}

std::string RegData(const StoredValue& value) {
    char digits[16];
    if (value.type == settings::RegDword && value.bytes.size() == 4) {
        std::snprintf(digits, sizeof digits, "dword:%02x%02x%02x%02x", value.bytes[3], value.bytes[2], value.bytes[1],
                      value.bytes[0]);
        return digits;
    }
    std::string text = value.type == settings::RegBinary ? "hex:" : "hex(" + std::to_string(value.type) + "):";
    for (std::size_t i = 0; i < value.bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : ",%02x", value.bytes[i]);
        text += digits;
    }
    return text;
}

}  // namespace

SettingsPlace::SettingsPlace(const std::filesystem::path& home) { setenv("XDG_CONFIG_HOME", home.c_str(), 1); }

SettingsPlace::~SettingsPlace() = default;

void ForgetStoredSettings() { std::filesystem::remove(RegFile()); }

void StoreSettings(const std::vector<StoredValue>& values) {
    std::ofstream out(RegFile(), std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" << settings::SettingsKeyName << "]\r\n";
    for (const StoredValue& value : values) out << '"' << value.name << "\"=" << RegData(value) << "\r\n";
    if (!out) throw std::runtime_error("cannot write " + RegFile().string());
}

}  // namespace uitest
