// Edits of a store of a million messages (62 bytes on average, as a sample dump's packets):
// deleting every other one (500,000 messages), undoing that, moving the first message to the
// end and replacing one message in the block. Wall-clock milliseconds of each step, each taken
// once on a store filled as a load fills it.
//
//   build/bench/sysex/edit_bench

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sysex/EditHistory.h"
#include "sysex/Store.h"
#include "sysex/StoreEdit.h"

namespace {

constexpr std::int32_t kMessages = 1000000;

double Milliseconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

template <typename Step>
void Time(const char* what, Step step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    std::printf("%-40s %8.1f ms  (%d messages after)\n", what, Milliseconds(start), sysex::SysExCount);
}

}  // namespace

int main() {
    sysex::StoreWriter& writer = sysex::StoreWriting();
    writer.Restart();
    std::vector<std::uint8_t> message;
    for (std::int32_t k = 0; k < kMessages; ++k) {
        message.assign(40 + static_cast<std::size_t>(k) * 7919 % 46, static_cast<std::uint8_t>(k & 0x7F));
        message.front() = 0xF0;
        message.back() = 0xF7;
        std::memcpy(writer.Extend(message.size()), message.data(), message.size());
        writer.Close();
    }
    sysex::SysExCount = writer.Count();
    sysex::EditHistory history;
    sysex::MessageNumbers everyOther;
    for (std::int32_t k = 0; k < kMessages; k += 2) everyOther.push_back(k);
    Time("delete 500,000 of 1,000,000", [&] { history.Do([&](sysex::StoreEditor& e) { return e.Remove(everyOther); }); });
    Time("undo that delete", [&] { history.Undo(); });
    Time("move the first message to the end", [&] {
        history.Do([](sysex::StoreEditor& e) { return e.Move({0}, {kMessages - 1}); });
    });
    Time("move message 3 one place up", [&] { history.Do([](sysex::StoreEditor& e) { return e.Move({3}, {2}); }); });
    const std::vector<std::uint8_t> replacement{0xF0, 0x7D, 0x01, 0xF7};
    Time("replace message 10", [&] { history.Do([&](sysex::StoreEditor& e) { return e.Replace(10, replacement); }); });
    return 0;
}
