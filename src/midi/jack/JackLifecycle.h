#pragma once
// The one thread that starts, connects and ends JACK clients, and how everyone else waits for it
// (holding, closing, waiting with a limit).
//
// libjack is not safe when one thread opens a client while another closes one, at least once the
// server has died: the two crash inside libjack. So every lifecycle call (open, activate,
// connect, deactivate, close) of every JACK client in the process, output or input, runs on one
// lifecycle thread, one call after another. Calls on an open client in between (registering
// ports, listing, the process callback) need no turn.
//
// A lifecycle call waits for as long as the server takes to answer: forever while it is
// suspended. Nobody else does:
//   - work whose result a caller needs runs through RunWithinJackLimit, which waits at most
//     JackAnswerLimit and meanwhile calls WhileWaiting (the window repaints);
//   - closes are handed over (CloseJackClientLater) and never waited for, except by
//     WaitForClosedPorts at exit, which has its own bound;
//   - once the thread has been stuck on one call for JackAnswerLimit, new work is refused at once
//     instead of queueing behind it, so a hung server costs no more threads and no more waits.
// The thread starts when there is work and ends as soon as there is none, so after the server
// resumes or dies no thread of ours is left behind.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>

#include "midi/BackendFailure.h"
#include "midi/OutputService.h"
#include "midi/OwnClients.h"

namespace midi {

// A longer JACK_DEFAULT_SERVER is refused before libjack sees it: libjack overflows a buffer (and
// aborts the process) for names a little longer than this, and no server can be reached under
// such a name anyway (its socket path would not fit).
inline constexpr std::size_t MaxJackServerNameBytes = 255;

// Whether the server that JACK_DEFAULT_SERVER names (or "default") can be asked at all.
bool JackServerNameUsable();

// What we know of an open client. Freed only once the client is closed (by us or by libjack), so
// libjack's shutdown notice can always reach it.
struct JackClientRecord {
    explicit JackClientRecord(jack_client_t* opened) : client(opened) {}
    jack_client_t* const client;
    std::shared_mutex use;  // shared: a JackClientUse; exclusive: the close
    bool closed = false;    // guarded by use
    std::atomic<JackInfoShutdownCallback> handler{nullptr};
    std::atomic<void*> arg{nullptr};
    std::atomic<bool> gone{false};  // the shutdown notice came, or the client was closed for it
    std::atomic<bool> told{false};  // the handler has run
    void TellOnce() {
        const JackInfoShutdownCallback call = handler.load();
        if (call && !told.exchange(true)) call(static_cast<jack_status_t>(JackFailure | JackServerError), "", arg.load());
    }
};

// How long a listing or an open may take before JACK counts as absent (listing) or the open as
// failed: a suspended server never answers.
inline constexpr std::chrono::milliseconds JackAnswerLimit{2000};

// Whether the calling thread is the lifecycle thread.
bool OnJackLifecycleThread();

// Queues `work` for the lifecycle thread (starting the thread when none runs). Refuses it, and
// returns false, when the thread has been stuck on its current call for `stuckLimit` or longer,
// or cannot be started.
bool StartJackLifecycleWork(std::function<void()> work, std::chrono::milliseconds stuckLimit);

// The failure of a caller that waited `limit` in vain, or was refused at once.
[[noreturn]] void ThrowJackNotAnswering(const char* operation);

// Waits for `result` at most `limit`, calling WhileWaiting every few milliseconds; throws
// ThrowJackNotAnswering past it. The work behind it goes on alone.
template <typename Future>
auto WaitWithinJackLimit(const char* operation, Future& result, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    constexpr std::chrono::milliseconds Slice{10};
    while (result.wait_for(Slice) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() >= deadline) ThrowJackNotAnswering(operation);
        WhileWaiting();
    }
    return result.get();
}

// Runs `work` on the lifecycle thread and waits at most `limit` for its result; past the limit
// (or at once, when the thread is stuck) it throws BackendFailure (-ETIMEDOUT) naming
// `operation`. Work that finishes late is destroyed where it finished (a late port closes
// itself). On the lifecycle thread itself `work` simply runs.
template <typename Result>
Result RunWithinJackLimit(const char* operation, std::function<Result()> work,
                          std::chrono::milliseconds limit = JackAnswerLimit) {
    if (OnJackLifecycleThread()) return work();
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
    std::future<Result> result = task->get_future();
    if (!StartJackLifecycleWork([task] { (*task)(); }, limit)) ThrowJackNotAnswering(operation);
    return WaitWithinJackLimit(operation, result, limit);
}

// The lifecycle calls. On the lifecycle thread they call libjack directly; elsewhere they run
// there within JackAnswerLimit and report a late answer as a failure (a status with
// JackServerFailed, or -ETIMEDOUT).
// jack_client_open with JackNoStartServer; null (with `status` set) when it fails, also when the
// server name is unusable.
jack_client_t* OpenJackClient(const char* name, jack_status_t& status);
int ActivateJackClient(jack_client_t* client);
int ConnectJackPorts(jack_client_t* client, const char* source, const char* destination);

// Once a client's server has gone (its shutdown notice came), libjack's next jack_client_open in
// the process closes and frees every client still open, behind their owners' backs. So every
// client opens through OpenJackClient, which keeps a record of it: before an open that follows a
// shutdown notice, the lifecycle thread closes every recorded client itself (telling each one's
// shutdown handler), and a client closed that way is not closed again. The same happens should
// libjack clean up all the same (a notice that came before we could hear of it). The owner
// names its client by the record, never by the pointer: libjack may give a new client the
// address of one it closed.
//
// The client's shutdown notice, through its record (instead of jack_on_info_shutdown): called
// once, from a libjack thread, or from the lifecycle thread when the client is closed because its
// server has gone. Call before activation; `arg` must live until the client is closed.
void SetJackShutdownHandler(JackClientRecord& client, JackInfoShutdownCallback handler, void* arg);

// Holds `client` open while a thread other than the lifecycle thread calls libjack on it outside
// its callbacks (which end before any close). False when the client has been closed meanwhile.
// Held only for calls that never wait for the server.
class JackClientUse {
public:
    explicit JackClientUse(JackClientRecord& client);
    ~JackClientUse();
    JackClientUse(const JackClientUse&) = delete;
    JackClientUse& operator=(const JackClientUse&) = delete;
    explicit operator bool() const { return open_; }

private:
    JackClientRecord& record_;
    bool open_ = false;
};

// For libjack's error printer: libjack is about to close every client still open, within the
// current open on the lifecycle thread.
void NoteLibJackClosesEveryClient();

// What the owner of a client keeps from its open on: our record of it (above). Take it on the
// lifecycle thread right after OpenJackClient; null for a client that did not open.
std::shared_ptr<JackClientRecord> JackRecordOf(jack_client_t* client);

// Hands the client over to the lifecycle thread, which deactivates and closes it and then runs
// `afterClose` (to free what the client's callbacks used), and returns at once. Null does
// nothing. A client whose server has gone is closed too: libjack delivers notices (port
// registrations, a second shutdown notice) on its other thread after the first shutdown notice,
// and only jack_client_close stops them. WaitForClosedPorts waits for these closes.
void CloseJackClientLater(std::shared_ptr<JackClientRecord> client, std::function<void()> afterClose = {});
// The same for a listing client, whose close waits while listing closes are held
// (HoldListingCloses), at most ListingCloseHoldLimit, without holding up other work meanwhile.
void CloseListingClientLater(std::shared_ptr<JackClientRecord> client);

// What libjack's callbacks reach their port through. A port that goes away detaches itself here
// and returns at once while its client closes later on the lifecycle thread: a callback that
// runs meanwhile finds no port and does nothing. Detach waits only for a callback already
// inside, which itself never waits. The gate must live until the client is closed (free it in
// CloseJackClientLater's afterClose).
template <typename Port>
class JackCallbackGate {
public:
    explicit JackCallbackGate(Port* port) : port_(port) {}
    JackCallbackGate(const JackCallbackGate&) = delete;
    JackCallbackGate& operator=(const JackCallbackGate&) = delete;

    // For a callback: `port` is null once the port has detached.
    class Entry {
    public:
        explicit Entry(JackCallbackGate& gate) : gate_(gate) {
            gate_.inside_.fetch_add(1);
            port = gate_.port_.load();
            if (!port) gate_.inside_.fetch_sub(1);
        }
        ~Entry() {
            if (port) gate_.inside_.fetch_sub(1);
        }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        Port* port;

    private:
        JackCallbackGate& gate_;
    };

    // A MIDI output keeps its buffer's events from cycle to cycle unless cleared: while the
    // client waits for its close, a detached port's callback clears the buffer of `port` (set
    // once, before activation) so that the last events are not sent again every cycle.
    void SilenceWhenDetached(jack_port_t* port) { silenced_ = port; }
    void Silence(jack_nframes_t frames) const {
        if (silenced_) jack_midi_clear_buffer(jack_port_get_buffer(silenced_, frames));
    }

    // The sequentially consistent order of these and Entry's operations ensures that a callback
    // either sees no port or is seen inside.
    void Detach() {
        port_.store(nullptr);
        while (inside_.load() != 0) std::this_thread::yield();
    }

private:
    std::atomic<Port*> port_;
    std::atomic<int> inside_{0};
    jack_port_t* silenced_ = nullptr;
};

// How a port with a gate ends: shuts its callbacks out, then hands the client (`record` null if
// it never opened) to the lifecycle thread, which frees the gate after the close and only then stops
// counting the client as ours (OwnClients.h), so no listing meanwhile offers its port. Returns at
// once; `client`, `record` and `gate` are null afterwards.
template <typename Port>
void CloseGatedClientLater(jack_client_t*& client, std::shared_ptr<JackClientRecord>& record,
                           JackCallbackGate<Port>*& gate, const std::string& ownName) {
    gate->Detach();
    if (record) {
        CloseJackClientLater(std::move(record), [gate, ownName] {
            if (!ownName.empty()) ForgetOwnJackClient(ownName);
            delete gate;
        });
    } else {
        delete gate;
    }
    client = nullptr;
    record = nullptr;
    gate = nullptr;
}

}  // namespace midi
