// The makers' table against the published list it follows, kept beside the tests as it was
// taken from the list's public copies: every listed ID named as listed, no ID beyond them.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <utility>

#include "sysex/Manufacturers.h"

namespace {

using Key = std::pair<bool, std::uint32_t>;  // three bytes?, ID as the table writes it

std::map<Key, std::string> ReadList(const char* path) {
    std::map<Key, std::string> list;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t tab = line.find('\t');
        const std::string id = line.substr(0, tab);
        std::uint32_t value = 0;
        for (std::size_t at = 0; at < id.size(); at += 3) value = value << 8 | std::stoul(id.substr(at, 2), nullptr, 16);
        list[{id.size() > 2, value & 0xFFFF}] = line.substr(tab + 1);
    }
    return list;
}

TEST(ManufacturerList, TableHoldsEveryListedIdByItsListedName) {
    const std::map<Key, std::string> list = ReadList(KELVANE_MAKERS_LIST);
    ASSERT_GT(list.size(), 700u) << "list not read";
    std::map<Key, std::string> table;
    for (const sysex::ManufacturerEntry& entry : sysex::ManufacturerTable()) {
        table[{entry.threeBytes, entry.id}] = std::string(entry.name);
    }
    EXPECT_EQ(table, list);
    // And the look-up finds them from the messages' bytes.
    const std::uint8_t ableton[] = {0xF0, 0x00, 0x21, 0x1D, 0x01, 0xF7};
    EXPECT_EQ(sysex::ManufacturerName(ableton, sizeof ableton).value_or(""), list.at({true, 0x211D}));
    const std::uint8_t cesyg[] = {0xF0, 0x2A, 0x01, 0xF7};
    EXPECT_EQ(sysex::ManufacturerName(cesyg, sizeof cesyg).value_or(""), list.at({false, 0x2A}));
}

}  // namespace
