// kelvane_bench_midi_receive: how much the JACK input takes without loss.
//
// Starts a JACK server of its own (dummy driver), a sending client and our input, then sends
// bursts of back-to-back messages (the full store: 1,000 messages) of growing size, each burst
// as fast as the sender's port buffers carry it, and prints for each whether every message
// arrived byte-exact, how long it took and the rate.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "JackProcesses.h"
#include "JackSender.h"
#include "midi/Input.h"
#include "midi/jack/JackInput.h"
#include "sysex/Reception.h"
#include "sysex/Store.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> Message(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> message(size);
    for (std::size_t i = 1; i + 1 < size; ++i) message[i] = static_cast<std::uint8_t>((i * 7 + seed) & 0x7F);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

}  // namespace

int main() {
    using namespace kelvane::testing;
    const std::string name = "kelvane-bench-rx";
    JackTestServer server(name);
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    JackSender sender("kelvane-bench-tx");
    auto service = midi::MakeJackInputService();
    std::size_t device = service->CountDevices();
    for (std::size_t d = 0; d < service->CountDevices(); ++d) {
        if (service->DeviceName(d) == sender.PortName()) device = d;
    }

    std::printf("messages  size_bytes  total_bytes  exact  seconds  kib_per_s\n");
    for (const std::size_t size : {std::size_t{1024}, std::size_t{16384}, std::size_t{65536}}) {
        sysex::ResetStoreForTests();
        sysex::Reception reception;
        auto opened = service->Open(device, midi::ReceiverFor(reception));
        if (opened.code != 0) {
            std::fprintf(stderr, "open failed: %s\n", opened.error.c_str());
            return 1;
        }
        std::vector<std::uint8_t> burst;
        std::vector<std::vector<std::uint8_t>> messages;
        for (unsigned k = 0; k < sysex::MaxSysEx; ++k) {
            messages.push_back(Message(size, k));
            burst.insert(burst.end(), messages.back().begin(), messages.back().end());
        }
        const auto start = Clock::now();
        sender.Send(burst);
        const bool all = WaitUntil([&] { return reception.Now().messages == sysex::MaxSysEx; }, std::chrono::minutes(10));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        opened.port.reset();
        const bool lost = reception.MoveIntoStore().LostAnything();
        bool exact = all && !lost && sysex::SysExCount == sysex::MaxSysEx;
        for (int k = 0; exact && k < sysex::SysExCount; ++k) {
            exact = std::equal(messages[k].begin(), messages[k].end(), sysex::SysExData[k]);
        }
        std::printf("%8d  %10zu  %11zu  %5s  %7.1f  %9.0f\n", sysex::MaxSysEx, size, burst.size(), exact ? "yes" : "NO",
                    seconds, burst.size() / 1024.0 / seconds);
    }
    return 0;
}
