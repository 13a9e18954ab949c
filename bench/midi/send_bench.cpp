// kelvane_bench_midi_send: what handing messages to a JACK port costs the caller.
//
// Starts a JACK server of its own (dummy driver) and the recording receiver, then
//   1. sends 10,000 messages of 1,000 bytes in batches of 1,000, waiting for each batch to go
//      out, and prints the resident set size after each batch: it must stay flat;
//   2. times Send of a 65,536-byte message on the caller's thread, 100 times (target: < 1 ms);
//   3. times closing a port while a 65,536-byte message is still going out, 20 times;
//   4. kills the server and times Send of 1,000 bytes (10 times) and closing the port after it.
// The tests check that these calls never wait for the device; how long they take is told here.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "JackProcesses.h"
#include "Messages.h"
#include "midi/jack/JackOutput.h"

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

std::vector<std::uint8_t> Message(std::size_t size) { return testsupport::FilledMessage(size, 0x55); }

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Median, 90th percentile and largest value, as the lines below print them.
void PrintSpread(const char* what, std::vector<double> us) {
    std::sort(us.begin(), us.end());
    std::printf("%s (%zu calls): median %.1f us, p90 %.1f us, max %.1f us\n", what, us.size(),
                us[us.size() / 2], us[us.size() * 9 / 10], us.back());
}

std::unique_ptr<midi::OutputPort> OpenFirst(midi::OutputService& service) {
    service.CountDevices();
    auto opened = service.Open(0);
    if (opened.code != 0) std::fprintf(stderr, "open failed: %s\n", opened.error.c_str());
    return std::move(opened.port);
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
    auto opened = OpenFirst(*service);
    if (!opened) return 1;
    auto& port = *opened;

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
        sendUs.push_back(MicrosecondsSince(start));
    }
    PrintSpread("Send of 65,536 bytes on the caller's thread", sendUs);
    opened.reset();
    midi::WaitForClosedPorts(std::chrono::minutes(5));

    std::vector<double> closeUs;
    for (int i = 0; i < 20; ++i) {
        auto sending = OpenFirst(*service);
        if (!sending) return 1;
        sending->Send(big);
        const auto start = Clock::now();
        sending.reset();
        closeUs.push_back(MicrosecondsSince(start));
        midi::WaitForClosedPorts(std::chrono::minutes(1));
    }
    PrintSpread("Closing a port with 65,536 bytes going out", closeUs);

    auto orphan = OpenFirst(*service);
    if (!orphan) return 1;
    orphan->Send(big);
    server.Kill();
    const auto small1000 = Message(1000);
    std::vector<double> deadSendUs;
    for (int i = 0; i < 10; ++i) {
        const auto start = Clock::now();
        orphan->Send(small1000);
        deadSendUs.push_back(MicrosecondsSince(start));
    }
    PrintSpread("Send of 1,000 bytes after the server was killed", deadSendUs);
    orphan->WaitUntilSent(std::chrono::minutes(1));
    const auto closing = Clock::now();
    orphan.reset();
    std::printf("Closing that port: %.1f us\n", MicrosecondsSince(closing));
    midi::WaitForClosedPorts(std::chrono::minutes(1));
    return 0;
}
