// The registry contract: see reg_contract.h.

#include "reg_contract.h"

#include <algorithm>
#include <cstdint>

using settings::RegType;
using Bytes = std::vector<std::uint8_t>;

std::string RegistryStoreFactoryName(const ::testing::TestParamInfo<RegistryStoreFactory>& info) {
    return info.param.label;
}

void RegistryStoreContract::SetUp() {
    store_ = GetParam().make();
    ASSERT_NE(store_, nullptr);
}

void RegistryStoreContract::TearDown() {
    if (!GetParam().removeKey) return;
    // Each key once, deepest first, so that a key is empty of subkeys when it goes.
    std::sort(keysOpened_.begin(), keysOpened_.end());
    keysOpened_.erase(std::unique(keysOpened_.begin(), keysOpened_.end()), keysOpened_.end());
    std::reverse(keysOpened_.begin(), keysOpened_.end());
    for (const auto& key : keysOpened_) GetParam().removeKey(key);
}

std::unique_ptr<settings::RegistryKey> RegistryStoreContract::OpenKey(const std::string& suffix) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("Software\\Kelvane-Tests\\") + test->name();
    name = name.substr(0, name.find('/'));  // drop gtest's "/label" parameter suffix
    keysOpened_.push_back(name);  // subkeys create it too
    if (!suffix.empty()) name += "\\" + suffix;
    std::unique_ptr<settings::RegistryKey> key;
    EXPECT_EQ(store_->CreateKey(name, key), settings::RegSuccess) << name;
    EXPECT_NE(key, nullptr) << name;
    keysOpened_.push_back(name);
    return key;
}

namespace {

struct Stored {
    RegType type = 0;
    std::uint32_t inspectedSize = 0;
    Bytes bytes;
};

// The settings' two-step read: inspect, then read with a buffer of the inspected size.
::testing::AssertionResult ReadTwoStep(settings::RegistryKey& key, const std::string& name, Stored& out) {
    if (const auto r = key.QueryValueInfo(name, out.type, out.inspectedSize); r != settings::RegSuccess)
        return ::testing::AssertionFailure() << "inspecting " << name << " gave " << r;
    out.bytes.assign(out.inspectedSize, 0xEE);
    std::uint32_t size = out.inspectedSize;
    RegType type = 0;
    if (const auto r = key.QueryValue(name, type, out.bytes.data(), size); r != settings::RegSuccess)
        return ::testing::AssertionFailure() << "reading " << name << " gave " << r;
    if (type != out.type) return ::testing::AssertionFailure() << "the read saw type " << type;
    out.bytes.resize(size);
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_P(RegistryStoreContract, MissingValuesAreNotFound) {
    auto key = OpenKey();
    ASSERT_NE(key, nullptr);
    RegType type = 0;
    std::uint32_t size = 1;
    std::uint8_t byte = 0x5A;
    EXPECT_EQ(key->QueryValueInfo("Nothing", type, size), settings::RegFileNotFound);
    EXPECT_EQ(key->QueryValue("Nothing", type, &byte, size), settings::RegFileNotFound);
    EXPECT_EQ(byte, 0x5A);
}

TEST_P(RegistryStoreContract, ByteTypesComeBackWithExactTypeSizeAndBytes) {
    Bytes long300(300);
    for (std::size_t i = 0; i < long300.size(); ++i) long300[i] = static_cast<std::uint8_t>(i * 7);
    const struct {
        const char* name;
        RegType type;
        Bytes bytes;
    } cases[] = {
        {"Empty", settings::RegBinary, {}},
        {"One", settings::RegBinary, {0x03}},
        {"Two", settings::RegBinary, {0x03, 0x00}},
        {"Long", settings::RegBinary, long300},
        {"NoneType", settings::RegNone, {0x07}},
        {"Dword", settings::RegDword, {0x0A, 0x00, 0x00, 0x80}},
        {"Qword", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    auto key = OpenKey();
    ASSERT_NE(key, nullptr);
    for (const auto& c : cases)
        ASSERT_EQ(key->SetValue(c.name, c.type, c.bytes.data(), static_cast<std::uint32_t>(c.bytes.size())),
                  settings::RegSuccess) << c.name;
    for (const auto& c : cases) {
        Stored stored;
        ASSERT_TRUE(ReadTwoStep(*key, c.name, stored));
        EXPECT_EQ(stored.type, c.type) << c.name;
        EXPECT_EQ(stored.inspectedSize, c.bytes.size()) << c.name;
        EXPECT_EQ(stored.bytes, c.bytes) << c.name;
    }
}

TEST_P(RegistryStoreContract, StringTypesKeepTypeAndText) {
    const Bytes text{'t', 'e', 'x', 't', 0};
    const Bytes expandable{'%', 'H', 'O', 'M', 'E', '%', 0};
    auto key = OpenKey();
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->SetValue("Text", settings::RegSz, text.data(), 5), settings::RegSuccess);
    ASSERT_EQ(key->SetValue("Expandable", settings::RegExpandSz, expandable.data(), 7), settings::RegSuccess);
    Stored stored;
    ASSERT_TRUE(ReadTwoStep(*key, "Text", stored));
    EXPECT_EQ(stored.type, settings::RegSz);
    EXPECT_GE(stored.inspectedSize, 5u);  // the "A" call may count the stored UTF-16 text
    EXPECT_EQ(stored.bytes, text);
    ASSERT_TRUE(ReadTwoStep(*key, "Expandable", stored));
    EXPECT_EQ(stored.type, settings::RegExpandSz);
    EXPECT_EQ(stored.bytes, expandable);
}

TEST_P(RegistryStoreContract, TooSmallBufferGivesMoreDataAndTheNeededSize) {
    const Bytes two{0x03, 0x04};
    auto key = OpenKey();
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->SetValue("Two", settings::RegBinary, two.data(), 2), settings::RegSuccess);
    RegType type = 0;
    std::uint32_t size = 1;
    std::uint8_t buffer[2] = {};
    EXPECT_EQ(key->QueryValue("Two", type, buffer, size), settings::RegMoreData);
    EXPECT_EQ(size, 2u);
}

TEST_P(RegistryStoreContract, SettingAgainReplacesTypeAndSize) {
    const Bytes dword{1, 0, 0, 0};
    const std::uint8_t byte = 9;
    auto key = OpenKey();
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->SetValue("Value", settings::RegDword, dword.data(), 4), settings::RegSuccess);
    ASSERT_EQ(key->SetValue("Value", settings::RegBinary, &byte, 1), settings::RegSuccess);
    Stored stored;
    ASSERT_TRUE(ReadTwoStep(*key, "Value", stored));
    EXPECT_EQ(stored.type, settings::RegBinary);
    EXPECT_EQ(stored.bytes, Bytes{9});
}

TEST_P(RegistryStoreContract, NamesIgnoreAsciiCase) {
    const std::uint8_t first = 1, second = 2;
    auto key = OpenKey();
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->SetValue("MixedCase", settings::RegBinary, &first, 1), settings::RegSuccess);
    ASSERT_EQ(key->SetValue("MIXEDcase", settings::RegBinary, &second, 1), settings::RegSuccess);
    Stored stored;
    ASSERT_TRUE(ReadTwoStep(*key, "mixedcase", stored));
    EXPECT_EQ(stored.bytes, Bytes{2});
}

TEST_P(RegistryStoreContract, EveryOpeningOfAKeySeesItsValuesAndOnlyItsOwn) {
    const std::uint8_t byte = 0x42;
    auto first = OpenKey("A");
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->SetValue("Shared", settings::RegBinary, &byte, 1), settings::RegSuccess);
    auto again = OpenKey("A");
    auto other = OpenKey("B");
    ASSERT_NE(again, nullptr);
    ASSERT_NE(other, nullptr);
    Stored stored;
    ASSERT_TRUE(ReadTwoStep(*again, "Shared", stored));
    EXPECT_EQ(stored.bytes, Bytes{0x42});
    std::uint32_t size = 0;
    EXPECT_EQ(other->QueryValueInfo("Shared", stored.type, size), settings::RegFileNotFound);
}
