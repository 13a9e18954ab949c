#include "settings/WinRegistryStore.h"

#include <windows.h>

namespace settings {

namespace {

bool HoldsNul(const std::string& name) { return name.find('\0') != std::string::npos; }

class WinRegistryKey final : public RegistryKey {
public:
    explicit WinRegistryKey(HKEY key) : key_(key) {}
    ~WinRegistryKey() override { ::RegCloseKey(key_); }
    WinRegistryKey(const WinRegistryKey&) = delete;
    WinRegistryKey& operator=(const WinRegistryKey&) = delete;

    RegResult SetValue(const std::string& name, RegType type, const std::uint8_t* data,
                       std::uint32_t sizeBytes) override {
        if (HoldsNul(name)) return RegInvalidParameter;
        return ::RegSetValueExA(key_, name.c_str(), 0, type, data, sizeBytes);
    }

    // The first of the two steps: no buffer, so the call reports type and size only.
    RegResult QueryValueInfo(const std::string& name, RegType& type, std::uint32_t& sizeBytes) override {
        if (HoldsNul(name)) return RegInvalidParameter;
        DWORD valueType = 0;
        DWORD size = 0;
        const LONG result = ::RegQueryValueExA(key_, name.c_str(), nullptr, &valueType, nullptr, &size);
        if (result == ERROR_SUCCESS) {
            type = valueType;
            sizeBytes = size;
        }
        return result;
    }

    RegResult QueryValue(const std::string& name, RegType& type, std::uint8_t* buffer,
                         std::uint32_t& sizeBytes) override {
        if (HoldsNul(name)) return RegInvalidParameter;
        DWORD valueType = 0;
        DWORD size = sizeBytes;
        const LONG result = ::RegQueryValueExA(key_, name.c_str(), nullptr, &valueType, buffer, &size);
        if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
            type = valueType;
            sizeBytes = size;
        }
        return result;
    }

private:
    HKEY key_;
};

}  // namespace

RegResult WinRegistryStore::CreateKey(const std::string& subKey, std::unique_ptr<RegistryKey>& key) {
    key.reset();
    if (HoldsNul(subKey)) return RegInvalidParameter;
    HKEY opened = nullptr;
    DWORD disposition = 0;
    const LONG result = ::RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_ALL_ACCESS, nullptr, &opened, &disposition);
    if (result != ERROR_SUCCESS) return result;
    key = std::make_unique<WinRegistryKey>(opened);
    return RegSuccess;
}

}  // namespace settings
