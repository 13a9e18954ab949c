#pragma once
// The seam between the settings logic and wherever the platform keeps per-user settings.
//
// Its shape follows the three Windows registry calls the settings need, so the Windows store is a
// thin wrapper and every other store behaves the way the settings logic expects of the registry:
//   RegistryStore::CreateKey      - RegCreateKeyExA under HKEY_CURRENT_USER (non-volatile, full access)
//   RegistryKey::SetValue         - RegSetValueExA
//   RegistryKey::QueryValueInfo   - RegQueryValueExA without a data buffer (type and size only)
//   RegistryKey::QueryValue       - RegQueryValueExA with a buffer of a given size
// Results are Windows error codes: 0 for success, non-zero otherwise. The codes a store returns
// beyond the ones named below are informative only; callers look at zero / non-zero.
//
// Names are byte strings handed through unchanged (the "A" calls), compared without regard to
// ASCII case as the registry does. Value types are the registry's numbers; stores keep types
// they do not know as plain numbers.
//
// Threading: a store and its keys are used from one thread. Stores do not cache: every query
// sees what the last successful SetValue of any process left behind.

#include <cstdint>
#include <memory>
#include <string>

namespace settings {

using RegResult = std::int32_t;
using RegType = std::uint32_t;

inline constexpr RegType RegNone = 0;
inline constexpr RegType RegSz = 1;
inline constexpr RegType RegExpandSz = 2;
inline constexpr RegType RegBinary = 3;
inline constexpr RegType RegDword = 4;

inline constexpr RegResult RegSuccess = 0;
inline constexpr RegResult RegFileNotFound = 2;      // ERROR_FILE_NOT_FOUND: no such value
inline constexpr RegResult RegPathNotFound = 3;      // ERROR_PATH_NOT_FOUND
inline constexpr RegResult RegAccessDenied = 5;      // ERROR_ACCESS_DENIED
inline constexpr RegResult RegWriteFault = 29;       // ERROR_WRITE_FAULT
inline constexpr RegResult RegInvalidParameter = 87; // ERROR_INVALID_PARAMETER
inline constexpr RegResult RegDiskFull = 112;        // ERROR_DISK_FULL
inline constexpr RegResult RegMoreData = 234;        // ERROR_MORE_DATA: the buffer is too small

// An open key. Closing it (destroying the object) never fails and loses nothing.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;

    // Creates or replaces the value `name` with `sizeBytes` bytes of `data` and type `type`.
    // `data` may be null when sizeBytes is 0.
    virtual RegResult SetValue(const std::string& name, RegType type, const std::uint8_t* data,
                               std::uint32_t sizeBytes) = 0;

    // Type and size of the value `name` without reading its bytes. RegFileNotFound when the
    // value does not exist. For REG_SZ and REG_EXPAND_SZ the Windows "A" call may report more
    // bytes than a read then delivers (it measures the stored UTF-16 text); other types report
    // their exact size.
    virtual RegResult QueryValueInfo(const std::string& name, RegType& type, std::uint32_t& sizeBytes) = 0;

    // Reads the value `name` into `buffer`. In: sizeBytes is the buffer's capacity. Out: the
    // value's type and size. When the value is larger than the buffer the result is RegMoreData,
    // sizeBytes is the size needed and the buffer's contents are unspecified.
    virtual RegResult QueryValue(const std::string& name, RegType& type, std::uint8_t* buffer,
                                 std::uint32_t& sizeBytes) = 0;
};

class RegistryStore {
public:
    virtual ~RegistryStore() = default;

    // Opens the key `subKey` (path below HKEY_CURRENT_USER, parts separated by '\'), creating it
    // when missing. On success sets `key` and returns 0; otherwise resets `key` and returns the
    // error.
    virtual RegResult CreateKey(const std::string& subKey, std::unique_ptr<RegistryKey>& key) = 0;
};

// The store of the platform this build runs on: the registry on Windows, a registry-format text
// file in the user's config folder elsewhere. One definition per platform
// (PlatformRegistryStore_posix.cpp, PlatformRegistryStore_win.cpp).
std::unique_ptr<RegistryStore> MakePlatformRegistryStore();

}  // namespace settings
