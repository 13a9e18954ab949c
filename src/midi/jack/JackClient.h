#pragma once
// What every JACK client of this program shares: quiet libjack, opening with the status in
// words, the check of return codes, and listing the server's MIDI ports. Starting, connecting
// and ending clients, and waiting for that within a limit, is JackLifecycle.h.

#include <jack/jack.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/BackendFailure.h"
#include "midi/jack/JackLifecycle.h"

namespace midi {

// libjack prints its complaints to stderr; the program reports failures itself. Once per process.
void SilenceLibJack();

// OpenJackClient, throwing BackendFailure with the status in words when it fails; the client's
// record, which names it from now on (JackLifecycle.h). Meant for the lifecycle thread, where
// nothing else opens or closes in between.
std::shared_ptr<JackClientRecord> OpenJackClientOrThrow(const char* name);

// libjack returns 0 on success, sometimes an errno value, and often just -1: anything else
// throws BackendFailure naming `operation`.
void CheckJack(int result, const char* operation);

// The names of the server's MIDI ports with `flags` (JackPortIsInput: what we can send to;
// JackPortIsOutput: what we can receive from), through a client of its own that closes in the
// background once the list is read. Throws like OpenJackClientOrThrow. Meant for the lifecycle
// thread: elsewhere its open goes there within JackAnswerLimit, and the thread that opens keeps
// its memory locking.
std::vector<std::string> ListJackMidiPorts(unsigned long flags);

// The same from any thread, within JackAnswerLimit (throwing like RunWithinJackLimit past it). A
// caller that asks while a listing with the same flags is under way waits for that one instead
// of queueing another behind a server that may not answer.
std::vector<std::string> ListJackMidiPortsWithinLimit(unsigned long flags);

// How a client finds out, in its process callback, that cycles went by without it. Each cycle
// starts one period after the one before: a later start means that cycles went by while the
// client did not run (a busy machine, a stopped process, a swap-in), and a run that came late
// for its cycle put out nothing that arrived; the same start again is a late wake-up for a
// cycle that has run already. The server's xrun notice (counted by XrunNotice) says that some
// client, perhaps the other end, missed its cycle. Realtime thread only, but for XrunNotice.
class JackCycleWatch {
public:
    struct Seen {
        bool gap = false;          // cycles went by since the last run
        bool again = false;        // this cycle has run already
        bool xrun = false;         // an xrun notice came since the last run
        std::uint64_t missed = 0;  // whole cycles in the gap
    };
    Seen Next(jack_client_t* client, jack_nframes_t frames) {
        Seen seen;
        const jack_nframes_t start = jack_last_frame_time(client);
        const std::uint64_t xruns = xruns_.load(std::memory_order_acquire);
        if (running_) {
            const jack_nframes_t step = start - lastStart_;
            seen.again = step == 0;
            seen.gap = step != lastFrames_;
            seen.missed = lastFrames_ > 0 && step > lastFrames_ ? step / lastFrames_ - 1 : 0;
            seen.xrun = xruns != xrunsSeen_;
        }
        running_ = true;
        lastStart_ = start;
        lastFrames_ = frames;
        xrunsSeen_ = xruns;
        return seen;
    }
    // libjack's notification thread (jack_set_xrun_callback).
    void XrunNotice() { xruns_.fetch_add(1, std::memory_order_release); }

private:
    std::atomic<std::uint64_t> xruns_{0};
    bool running_ = false;
    jack_nframes_t lastStart_ = 0;
    jack_nframes_t lastFrames_ = 0;
    std::uint64_t xrunsSeen_ = 0;
};

}  // namespace midi
