#pragma once
// The registry store on Windows: the real registry below HKEY_CURRENT_USER, through the "A"
// calls (RegCreateKeyExA, RegSetValueExA, RegQueryValueExA) so that names and REG_SZ bytes are
// handled exactly as other programs using the ANSI calls see them. Windows builds only.
//
// Results are the calls' own Windows error codes. A name or key holding a NUL gives
// ERROR_INVALID_PARAMETER, since the calls would otherwise read a shorter name.

#include "settings/RegistryStore.h"

namespace settings {

class WinRegistryStore : public RegistryStore {
public:
    // Non-volatile, full access; the key is created when missing.
    RegResult CreateKey(const std::string& subKey, std::unique_ptr<RegistryKey>& key) override;
};

}  // namespace settings
