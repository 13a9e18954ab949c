// kelvane_bench_midi_send: what handing messages to a JACK port costs the caller.
//
// Starts a JACK server of its own (dummy driver) and the recording receiver, then
//   1. sends 10,000 messages of 1,000 bytes in batches of 1,000, waiting for each batch to go
//      out, and prints the resident set size after each batch: it must stay flat;
//   2. times Send of a 65,536-byte message on the caller's thread, 100 times (target: < 1 ms).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "JackProcesses.h"
#include "midi/JackOutput.h"

namespace {

using Clock = std::chrono::steady_clock;

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

std::vector<std::uint8_t> Message(std::size_t size) {
    std::vector<std::uint8_t> message(size, 0x55);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

}  // namespace

int main() {
    using namespace kelvane::testing;
    // Unique, so that a bench run never meets a test's or another run's server.
    const std::string name = "kelvane-bench-" + std::to_string(getpid());
    JackTestServer server(name);
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    JackReceiver receiver("kelvane-bench-rx");

    auto service = midi::MakeJackOutputService();
    service->CountDevices();
    auto opened = service->Open(0);
    if (opened.code != 0) {
        std::fprintf(stderr, "open failed: %s\n", opened.error.c_str());
        return 1;
    }
    auto& port = *opened.port;

    std::printf("messages  bytes_sent  rss_kib  batch_s\n");
    const auto small = Message(1000);
    std::printf("%8d  %10d  %7ld  %7s\n", 0, 0, ResidentKiB(), "-");
    for (int batch = 1; batch <= 10; ++batch) {
        const auto start = Clock::now();
        for (int i = 0; i < 1000; ++i) port.Send(small);
        if (!port.WaitUntilSent(std::chrono::minutes(5))) {
            std::fprintf(stderr, "batch %d did not go out\n", batch);
            return 1;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%8d  %10d  %7ld  %7.2f\n", batch * 1000, batch * 1000 * 1000, ResidentKiB(), seconds);
    }
    const auto status = port.Status();
    std::printf("sent %llu, failed %llu, received %zu bytes\n",
                static_cast<unsigned long long>(status.sent), static_cast<unsigned long long>(status.failed),
                receiver.WaitForBytes(10'000'000, std::chrono::seconds(10)).size());

    const auto big = Message(65536);
    std::vector<double> sendUs;
    for (int i = 0; i < 100; ++i) {
        const auto start = Clock::now();
        port.Send(big);
        sendUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(sendUs.begin(), sendUs.end());
    std::printf("Send of 65,536 bytes on the caller's thread (100 calls): median %.1f us, "
                "p90 %.1f us, max %.1f us\n", sendUs[50], sendUs[90], sendUs.back());
    return 0;
}
