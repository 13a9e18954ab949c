#include "midi/jack/JackInput.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/BackendFailure.h"
#include "midi/jack/JackClient.h"
#include "midi/OwnClients.h"
#include "midi/ListedInputService.h"

namespace midi {

namespace {

constexpr auto CollectInterval = std::chrono::milliseconds(2);

class JackInputPort final : public InputPort {
public:
    JackInputPort(const std::string& source, ByteReceiver receiver, std::size_t ringBytes)
        : receiver_(std::move(receiver)), source_(source) {
        try {
            ring_ = jack_ringbuffer_create(ringBytes);
            if (!ring_) throw BackendFailure("JACK", "jack_ringbuffer_create", "", -ENOMEM);
            record_ = OpenJackClientOrThrow("Kelvane in");
            client_ = record_->client;
            ownName_ = jack_get_client_name(client_);
            NoteOwnJackClient(ownName_);
            port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
            if (!port_) throw BackendFailure("JACK", "jack_port_register", "", -EIO);
            CheckJack(jack_set_process_callback(client_, &JackInputPort::Process, gate_),
                  "jack_set_process_callback");
            SetJackShutdownHandler(*record_, &JackInputPort::Shutdown, gate_);
            CheckJack(jack_set_xrun_callback(client_, &JackInputPort::Xrun, gate_), "jack_set_xrun_callback");
            CheckJack(jack_set_port_registration_callback(client_, &JackInputPort::PortRegistered, gate_),
                      "jack_set_port_registration_callback");
            CheckJack(jack_set_port_connect_callback(client_, &JackInputPort::PortConnected, gate_),
                      "jack_set_port_connect_callback");
            collector_ = std::thread([this] { Collect(); });
            CheckJack(ActivateJackClient(client_), "jack_activate");
            const int connected = ConnectJackPorts(client_, source.c_str(), jack_port_name(port_));
            if (connected != EEXIST) CheckJack(connected, "jack_connect");
        } catch (...) {
            Stop();
            throw;
        }
    }

    ~JackInputPort() override { Stop(); }

private:
    // Each event goes into the ring as a record: a header (its size, with LostBefore set when
    // events were dropped just before it, GapBefore when cycles went by without us, XrunBefore
    // when the server told of some client's missed cycle), then its
    // bytes. So the collector knows exactly where in the stream something is missing, and the
    // message open there is dropped rather than stored with its ends spliced together.
    using Header = std::uint32_t;
    static constexpr Header LostBefore = Header{1} << 31;
    static constexpr Header GapBefore = Header{1} << 30;
    static constexpr Header XrunBefore = Header{1} << 29;
    static constexpr Header SizeBits = XrunBefore - 1;

    // Realtime thread: only port-buffer reads, ring writes and atomic operations.
    static int Process(jack_nframes_t frames, void* arg) {
        const Gate::Entry entry(*static_cast<Gate*>(arg));
        JackInputPort* const self = entry.port;
        if (!self) return 0;
        // Events of cycles that went by without us never reach us; those of a cycle run twice
        // were read already. Before the source is connected (a slow first run, say) and after
        // it has gone, nothing could have come. (jack_port_connected is a lock-free read.)
        const JackCycleWatch::Seen seen = self->cycles_.Next(self->client_, frames);
        if ((seen.gap || seen.xrun) && jack_port_connected(self->port_) > 0) {
            if (seen.gap) {
                ++self->gapPending_;
                self->gaps_.fetch_add(1, std::memory_order_relaxed);
                self->missedCycles_.fetch_add(seen.missed, std::memory_order_relaxed);
            } else {
                ++self->xrunPending_;
                self->xrunMarks_.fetch_add(1, std::memory_order_relaxed);
            }
        }
        if (seen.again) return 0;
        void* buffer = jack_port_get_buffer(self->port_, frames);
        const jack_nframes_t count = jack_midi_get_event_count(buffer);
        for (jack_nframes_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0) continue;
            if (jack_ringbuffer_write_space(self->ring_) < sizeof(Header) + event.size) {
                // A whole event is lost; the next record that fits says so.
                ++self->droppedPending_;
                self->dropped_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            Header header = static_cast<Header>(event.size);
            if (self->droppedPending_ > 0) {
                header |= LostBefore;
                self->droppedPending_ = 0;
            }
            if (self->gapPending_ > 0) {
                header |= GapBefore;
                self->gapPending_ = 0;
            }
            if (self->xrunPending_ > 0) {
                header |= XrunBefore;
                self->xrunPending_ = 0;
            }
            jack_ringbuffer_write(self->ring_, reinterpret_cast<const char*>(&header), sizeof header);
            jack_ringbuffer_write(self->ring_, reinterpret_cast<const char*>(event.buffer), event.size);
        }
        return 0;
    }

    // libjack's notification thread.
    static int Xrun(void* arg) {
        const Gate::Entry entry(*static_cast<Gate*>(arg));
        if (entry.port) entry.port->cycles_.XrunNotice();
        return 0;
    }

    static void Shutdown(jack_status_t, const char*, void* arg) {
        const Gate::Entry entry(*static_cast<Gate*>(arg));
        if (entry.port) entry.port->gone_.store(true, std::memory_order_release);
    }

    // The source's owner unregistered it, or someone disconnected it from us: nothing more comes.
    static void PortRegistered(jack_port_id_t id, int registered, void* arg) {
        const Gate::Entry entry(*static_cast<Gate*>(arg));
        JackInputPort* const self = entry.port;
        if (!self || registered) return;
        jack_port_t* port = jack_port_by_id(self->client_, id);
        if (port && self->source_ == jack_port_name(port)) self->sourceGone_.store(true, std::memory_order_release);
    }
    static void PortConnected(jack_port_id_t a, jack_port_id_t b, int connected, void* arg) {
        const Gate::Entry entry(*static_cast<Gate*>(arg));
        JackInputPort* const self = entry.port;
        if (!self || connected) return;
        jack_port_t* ours = self->port_;
        if (jack_port_by_id(self->client_, a) == ours || jack_port_by_id(self->client_, b) == ours) {
            if (jack_port_connected(ours) == 0) self->sourceGone_.store(true, std::memory_order_release);
        }
    }

    // The collecting thread: polls, since the process callback may not signal anyone.
    void Collect() {
        std::vector<std::uint8_t> event;
        std::uint64_t dropsTold = 0;
        Gaps gapsTold;
        for (;;) {
            const bool last = stopping_.load(std::memory_order_acquire);
            // Looked at before the ring is emptied: every byte the callback wrote before the
            // source or the server went away is then fed before the end is told.
            const bool ending = gone_.load(std::memory_order_acquire) || sourceGone_.load(std::memory_order_acquire);
            bool any = false;
            for (;;) {
                Header header = 0;
                if (jack_ringbuffer_read_space(ring_) < sizeof header) break;
                jack_ringbuffer_peek(ring_, reinterpret_cast<char*>(&header), sizeof header);
                const std::size_t size = header & SizeBits;
                // The callback writes header and bytes one after the other; wait for the bytes.
                if (jack_ringbuffer_read_space(ring_) < sizeof header + size) break;
                jack_ringbuffer_read_advance(ring_, sizeof header);
                event.resize(size);
                jack_ringbuffer_read(ring_, reinterpret_cast<char*>(event.data()), size);
                if (header & LostBefore) TellDrops(dropsTold);
                if (header & (GapBefore | XrunBefore)) TellGaps(gapsTold);
                receiver_(std::span<const std::uint8_t>(event.data(), size));
                FollowSysEx(event.data(), size);
                any = true;
            }
            if (last) {
                // Drops and gaps after the last record, and a source or server that went away.
                TellDrops(dropsTold);
                TellGaps(gapsTold);
                TellEnd();
                return;
            }
            if (ending) TellEnd();
            if (!any) std::this_thread::sleep_for(CollectInterval);
        }
    }

    void TellDrops(std::uint64_t& told) {
        const std::uint64_t dropped = dropped_.load(std::memory_order_relaxed);
        if (dropped == told) return;
        receiver_.Lost(sysex::LossCause::Overflow, static_cast<std::uint32_t>(dropped - told));
        told = dropped;
    }

    struct Gaps {
        std::uint64_t times = 0;
        std::uint64_t cycles = 0;
        std::uint64_t xruns = 0;
    };
    // Counted from the moment the callback marks them, so a gap after the last record is told
    // at the end as well. Our own gap may have taken whole messages and is always told. An xrun
    // notice is told only inside a message: some client was late, perhaps the source, and a
    // message it was sending may have lost a piece; between messages the notice alone (a busy
    // machine's late server, another client) would make every reception there look lossy.
    void TellGaps(Gaps& told) {
        const std::uint64_t times = gaps_.load(std::memory_order_relaxed);
        const std::uint64_t cycles = missedCycles_.load(std::memory_order_relaxed);
        const std::uint64_t xruns = xrunMarks_.load(std::memory_order_relaxed);
        if (times != told.times) {
            receiver_.Lost(sysex::LossCause::MissedCycles, static_cast<std::uint32_t>(cycles - told.cycles));
        } else if (xruns != told.xruns && inSysEx_) {
            receiver_.Lost(sysex::LossCause::MissedCycles, 0);
        }
        told = {times, cycles, xruns};
    }

    // Collecting thread: whether the bytes so far end inside a System Exclusive message.
    void FollowSysEx(const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t b = bytes[i];
            if (b == 0xF0) {
                inSysEx_ = true;
            } else if (b >= 0x80 && b < 0xF8) {
                inSysEx_ = false;  // F7, or any other status, ends it
            }
        }
    }

    // Once: the end comes after every byte that came before it.
    void TellEnd() {
        if (endTold_) return;
        if (gone_.load(std::memory_order_acquire)) {
            receiver_.Lost(sysex::LossCause::ServerGone, 0);
            endTold_ = true;
        } else if (sourceGone_.load(std::memory_order_acquire)) {
            receiver_.Lost(sysex::LossCause::SourceGone, 0);
            endTold_ = true;
        }
    }

    // Returns at once, whatever the server does: the callback is shut out first, so the
    // collector's last round finds everything it wrote, and the client closes later on the
    // lifecycle thread, taking the gate along.
    void Stop() {
        CloseGatedClientLater(client_, record_, gate_, ownName_);
        stopping_.store(true, std::memory_order_release);
        if (collector_.joinable()) collector_.join();
        if (ring_) {
            jack_ringbuffer_free(ring_);
            ring_ = nullptr;
        }
    }

    using Gate = JackCallbackGate<JackInputPort>;

    ByteReceiver receiver_;
    // Freed once the client has closed (CloseJackClientLater), never under a callback.
    Gate* gate_ = new Gate(this);
    const std::string source_;
    jack_client_t* client_ = nullptr;
    std::shared_ptr<JackClientRecord> record_;  // how the client is named when it closes
    std::string ownName_;  // as the server named the client
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    std::thread collector_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> gone_{false};         // written by libjack's shutdown notice
    std::atomic<bool> sourceGone_{false};   // written by libjack's notification thread
    std::atomic<std::uint64_t> dropped_{0}; // events dropped so far; written by the callback
    std::uint32_t droppedPending_ = 0;      // process callback only: drops not yet in a header
    std::atomic<std::uint64_t> gaps_{0};          // gaps marked so far; written by the callback
    std::atomic<std::uint64_t> missedCycles_{0};  // whole cycles in them; written by the callback
    JackCycleWatch cycles_;
    std::atomic<std::uint64_t> xrunMarks_{0};     // xrun notices marked; written by the callback
    std::uint32_t gapPending_ = 0;  // process callback only: a gap not yet in a header
    std::uint32_t xrunPending_ = 0; // process callback only: an xrun not yet in a header
    bool inSysEx_ = false;          // collecting thread only
    bool endTold_ = false;                  // collecting thread only
};

class JackInputService final : public ListedInputService<std::string> {
public:
    explicit JackInputService(std::size_t ringBytes) : ListedInputService("JACK"), ringBytes_(ringBytes) {
        SilenceLibJack();
    }

private:
    // A suspended server answers nothing; after JackAnswerLimit it counts as absent.
    std::vector<std::string> List() override {
        return WithoutOwnPorts(ListJackMidiPortsWithinLimit(JackPortIsOutput));
    }
    std::string NameOf(const std::string& source) const override { return source; }
    std::unique_ptr<InputPort> OpenPort(const std::string& source, ByteReceiver receiver) override {
        // A port that opens only after the caller gave up lives on until it closes itself; the
        // gate keeps its bytes from reaching a receiver the caller has since destroyed.
        struct Gate {
            std::mutex mutex;
            bool open = true;
        };
        auto gate = std::make_shared<Gate>();
        auto shared = std::make_shared<ByteReceiver>(std::move(receiver));
        ByteReceiver gated(
            [gate, shared](std::span<const std::uint8_t> bytes) {
                std::lock_guard lock(gate->mutex);
                if (gate->open) (*shared)(bytes);
            },
            [gate, shared](sysex::LossCause cause, std::uint32_t events) {
                std::lock_guard lock(gate->mutex);
                if (gate->open) shared->Lost(cause, events);
            });
        try {
            return RunWithinJackLimit<std::unique_ptr<InputPort>>("接続", [source, gated, ring = ringBytes_] {
                return std::unique_ptr<InputPort>(std::make_unique<JackInputPort>(source, gated, ring));
            });
        } catch (...) {
            std::lock_guard lock(gate->mutex);
            gate->open = false;
            throw;
        }
    }

    std::size_t ringBytes_;
};

}  // namespace

std::unique_ptr<InputService> MakeJackInputService(std::size_t ringBytes) {
    return std::make_unique<JackInputService>(ringBytes);
}

}  // namespace midi
