#pragma once
// The one way this program starts, connects and ends JACK clients.
//
// libjack is not safe when one thread opens a client while another closes one, at least once
// the server has died: the two crash inside libjack. So every client lifecycle call (open,
// activate, connect, deactivate, close) of every JACK client in the process, output or input,
// goes through these functions, which take turns on one process-wide lock. Calls on an open
// client in between (registering ports, listing, the process callback) need no turn.
//
// A call may wait for as long as the server takes to answer (forever while it is suspended),
// and the turn is held meanwhile; callers on the window's thread therefore run them through
// RunWithinJackLimit.

#include <jack/jack.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/BackendFailure.h"
#include "midi/OutputService.h"

namespace midi {

// How long a listing or an open may take before JACK counts as absent (listing) or the open as
// failed: a suspended server never answers.
inline constexpr std::chrono::milliseconds JackAnswerLimit{2000};

// A longer JACK_DEFAULT_SERVER is refused before libjack sees it: libjack overflows a buffer (and
// aborts the process) for names a little longer than this, and no server can be reached under
// such a name anyway (its socket path would not fit).
inline constexpr std::size_t MaxJackServerNameBytes = 255;

// libjack prints its complaints to stderr; the program reports failures itself. Once per process.
void SilenceLibJack();

// OpenJackClient, throwing BackendFailure with the status in words when it fails.
jack_client_t* OpenJackClientOrThrow(const char* name);

// libjack returns 0 on success, sometimes an errno value, and often just -1: anything else
// throws BackendFailure naming `operation`.
void CheckJack(int result, const char* operation);

// The names of the server's MIDI ports with `flags` (JackPortIsInput: what we can send to;
// JackPortIsOutput: what we can receive from), through a client of its own that closes in the
// background once the list is read. Throws like OpenJackClientOrThrow.
std::vector<std::string> ListJackMidiPorts(unsigned long flags);

// Whether the server that JACK_DEFAULT_SERVER names (or "default") can be asked at all.
bool JackServerNameUsable();

// jack_client_open with JackNoStartServer; null (with `status` set) when it fails, also when the
// server name is unusable.
jack_client_t* OpenJackClient(const char* name, jack_status_t& status);
int ActivateJackClient(jack_client_t* client);
int ConnectJackPorts(jack_client_t* client, const char* source, const char* destination);
// Deactivates and closes; null is allowed and does nothing. A client whose server has gone (its
// shutdown callback ran) is left alone instead: once another client's open has failed on the
// dead server, libjack crashes in jack_deactivate of such a client. It holds a few bytes of
// memory, which are not worth that risk.
void CloseJackClient(jack_client_t* client, bool serverGone = false);
// The same on a thread of its own, for a caller that must not wait: closing takes the server a
// process cycle or more. For listing clients: it waits while listing closes are held
// (HoldListingCloses). WaitForClosedPorts waits for it.
void CloseJackClientInBackground(jack_client_t* client);

// Runs `work` on a thread of its own and waits at most `limit` for its result. Past the limit it
// throws BackendFailure (-ETIMEDOUT) naming `operation`; the thread then goes on alone, and
// whatever it returns late is destroyed there (a late port closes itself).
template <typename Result>
Result RunWithinJackLimit(const char* operation, std::function<Result()> work,
                          std::chrono::milliseconds limit = JackAnswerLimit) {
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
    std::future<Result> result = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    constexpr std::chrono::milliseconds Slice{10};
    while (result.wait_for(Slice) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() >= deadline) {
            throw BackendFailure("JACK", operation, "サーバーが応答しません", -ETIMEDOUT);
        }
        WhileWaiting();
    }
    return result.get();
}

}  // namespace midi
