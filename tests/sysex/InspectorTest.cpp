// Header decoding for the information pane.

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "sysex/Inspector.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using Lines = std::array<std::string, 4>;

struct InfoCase {
    const char* name;
    std::array<std::uint8_t, 5> head;
    Lines lines;
};

class InfoTable : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoTable, DecodesFixedPositions) {
    EXPECT_EQ(sysex::InfoLines(GetParam().head.data()), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, InfoTable,
    ::testing::Values(
        InfoCase{"GmSystemOn", {0xF0, 0x7E, 0x7F, 0x09, 0x01},
                 {"Vendor:Unknown(7EH)", "Machine:Unknown(09H)", "SysExCH:0F", "Function:01H"}},
        InfoCase{"WaveStation", {0xF0, 0x42, 0x30, 0x28, 0x40},
                 {"Vendor:KORG", "Machine:Wave Station", "SysExCH:00", "Function:40H"}},
        // Model names belong to manufacturer 42 hex only.
        InfoCase{"RolandModel42", {0xF0, 0x41, 0x10, 0x42, 0x12},
                 {"Vendor:Roland", "Machine:Unknown(42H)", "SysExCH:00", "Function:12H"}},
        // The channel keeps the low four bits only, in upper-case hex.
        InfoCase{"ChannelDropsHighBits", {0xF0, 0x42, 0x3A, 0x36, 0x00},
                 {"Vendor:KORG", "Machine:X5(05R/W)", "SysExCH:0A", "Function:00H"}},
        InfoCase{"Ns5rAndN1", {0xF0, 0x42, 0x7F, 0x42, 0xFF},
                 {"Vendor:KORG", "Machine:NS5R(NX5R)", "SysExCH:0F", "Function:FFH"}},
        InfoCase{"ExtendedIdByte", {0xF0, 0x00, 0x20, 0x33, 0x01},
                 {"Vendor:Unknown(00H)", "Machine:Unknown(33H)", "SysExCH:00", "Function:01H"}},
        InfoCase{"Yamaha", {0xF0, 0x43, 0x10, 0x4C, 0x00},
                 {"Vendor:YAMAHA", "Machine:Unknown(4CH)", "SysExCH:00", "Function:00H"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Names, EveryByteValueHasATextOfTheRightShape) {
    const char* digits = "0123456789ABCDEF";
    for (int v = 0; v < 256; ++v) {
        const auto b = static_cast<std::uint8_t>(v);
        const std::string unknown = std::string("Unknown(") + digits[v >> 4] + digits[v & 15] + "H)";
        const std::string vendor = sysex::VendorName(b);
        if (v == 0x41) EXPECT_EQ(vendor, "Roland");
        else if (v == 0x42) EXPECT_EQ(vendor, "KORG");
        else if (v == 0x43) EXPECT_EQ(vendor, "YAMAHA");
        else EXPECT_EQ(vendor, unknown);
        for (int maker : {0x00, 0x41, 0x43, 0x7E}) EXPECT_EQ(sysex::ModelName(static_cast<std::uint8_t>(maker), b), unknown);
        const bool known = v == 0x28 || v == 0x36 || v == 0x42 || v == 0x4C;
        EXPECT_EQ(sysex::ModelName(0x42, b) == unknown, !known) << v;
    }
    EXPECT_EQ(sysex::ModelName(0x42, 0x4C), "N1(N5)");
}

TEST(ShortMessage, ReadsPastItsF7IntoWhatTheSlotHeldBefore) {
    sysex::ResetStoreForTests();
    const std::uint8_t fresh[] = {0xF0, 0xF7};
    sysex::ScanDump(fresh, sizeof fresh);
    EXPECT_EQ(sysex::InfoLines(0),
              (Lines{"Vendor:Unknown(F7H)", "Machine:Unknown(00H)", "SysExCH:00", "Function:00H"}));

    const std::uint8_t longer[] = {0xF0, 0x42, 0x35, 0x4C, 0x41, 0xF7};
    sysex::ScanDump(longer, sizeof longer);
    sysex::ScanDump(fresh, sizeof fresh);
    EXPECT_EQ(sysex::InfoLines(0),
              (Lines{"Vendor:Unknown(F7H)", "Machine:Unknown(4CH)", "SysExCH:05", "Function:41H"}));
}

}  // namespace
