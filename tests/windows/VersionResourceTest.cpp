// The resources compiled from src/app/kelvane.rc, read back from this very program the way
// Explorer reads them from kelvane.exe: the version record and the icon.

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

// Explorer takes an executable's first icon group; its one image must be the 48 x 48,
// 16-colour picture.
TEST(IconResource, IsOneImageOf48By48In16Colours) {
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colourCount, reserved;
        WORD planes, bitCount;
        DWORD bytesInRes;
        WORD id;
    };
    struct GroupHeader {
        WORD reserved, type, count;
        GroupEntry entries[1];
    };
#pragma pack(pop)
    const HRSRC found = ::FindResourceA(nullptr, "IDI_ICON1", RT_GROUP_ICON);
    ASSERT_NE(found, nullptr) << "no icon group IDI_ICON1";
    const auto* group = static_cast<const GroupHeader*>(::LockResource(::LoadResource(nullptr, found)));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->type, 1);
    ASSERT_EQ(group->count, 1);
    const GroupEntry& image = group->entries[0];
    EXPECT_EQ(image.width, 48);
    EXPECT_EQ(image.height, 48);
    EXPECT_EQ(image.colourCount, 16);
    EXPECT_EQ(image.bitCount, 4);

    const HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), L"IDI_ICON1", IMAGE_ICON, 48, 48, 0));
    ASSERT_NE(icon, nullptr);
    ::DestroyIcon(icon);
}

}  // namespace
