// The resources compiled from src/common/kelvane.rc, read back from this very program the way
// Explorer reads them from kelvane.exe: the version record. The icon and the manifest of the built
// programs are read off the files themselves (exe-resources-check): Wine takes every program as
// aware of each monitor's scale, manifest or not, so the process could not tell.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/Version.h"

namespace {

std::vector<unsigned char> OwnVersionRecord() {
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length == MAX_PATH) return {};
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(self, &ignored);
    if (size == 0) return {};
    std::vector<unsigned char> record(size);
    if (!::GetFileVersionInfoW(self, 0, size, record.data())) return {};
    return record;
}

std::wstring StringValue(std::vector<unsigned char>& record, const std::wstring& name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring key = L"\\StringFileInfo\\041104B0\\" + name;
    if (!::VerQueryValueW(record.data(), key.c_str(), &value, &length) || length == 0) return L"(missing)";
    return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(VersionResource, CarriesTheProjectsVersionAndName) {
    auto record = OwnVersionRecord();
    ASSERT_FALSE(record.empty()) << "no version record linked into the program";

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(record.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const DWORD versionMs = (KELVANE_VERSION_MAJOR << 16) | KELVANE_VERSION_MINOR;
    const DWORD versionLs = (KELVANE_VERSION_PATCH << 16) | KELVANE_VERSION_TWEAK;
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, versionMs);
    EXPECT_EQ(fixed->dwFileVersionLS, versionLs);
    EXPECT_EQ(fixed->dwProductVersionMS, versionMs);
    EXPECT_EQ(fixed->dwProductVersionLS, versionLs);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    EXPECT_EQ(StringValue(record, L"ProductName"), L"Kelvane");
    EXPECT_EQ(StringValue(record, L"ProductVersion"), L"" KELVANE_VERSION_TEXT);
    EXPECT_EQ(StringValue(record, L"FileVersion"), L"" KELVANE_VERSION);
    EXPECT_EQ(StringValue(record, L"OriginalFilename"), L"kelvane.exe");
}

}  // namespace
