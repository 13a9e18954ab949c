#include "midi/jack/JackOutput.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/BackendFailure.h"
#include "midi/jack/JackClient.h"
#include "midi/OwnClients.h"
#include "midi/ListedOutputService.h"
#include "midi/QueuedPort.h"
#include "midi/WirePacer.h"

namespace midi {

namespace {

// Several of the usual messages (up to 64 KiB) and their headers. A longer message streams
// through it: the callback takes its bytes as they come, so its length is bounded by memory only.
constexpr std::size_t RingBytes = std::size_t{1} << 18;
// How long the server may take no bytes at all before a waiting message counts as failed.
constexpr auto StallLimit = std::chrono::seconds(5);
constexpr auto PollInterval = std::chrono::milliseconds(1);
// Many periods of the longest usual period (8192 frames at 44.1 kHz is 186 ms).
constexpr auto CycleEndLimit = std::chrono::milliseconds(500);

// Each message in the ring: its length, then the frame at which it was handed over, so that the
// process callback keeps the spacing of hand-overs (the pauses between messages and the pace
// inside one) to the frame instead of moving every message to the start of a period.
struct RecordHeader {
    std::uint32_t length;
    jack_nframes_t frame;
};

class JackSink final : public MessageSink {
public:
    explicit JackSink(const std::string& device) : device_(device) {
        try {
            record_ = OpenJackClientOrThrow("Kelvane");
            client_ = record_->client;
            ownName_ = jack_get_client_name(client_);
            NoteOwnJackClient(ownName_);
            port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
            if (!port_) throw BackendFailure("JACK", "jack_port_register", "", -EIO);
            gate_->SilenceWhenDetached(port_);
            ring_ = jack_ringbuffer_create(RingBytes);
            doubts_ = jack_ringbuffer_create(DoubtBytes);
            if (!ring_ || !doubts_) throw BackendFailure("JACK", "jack_ringbuffer_create", "", -ENOMEM);
            CheckJack(jack_set_process_callback(client_, &JackSink::Process, gate_),
                  "jack_set_process_callback");
            SetJackShutdownHandler(*record_, &JackSink::Shutdown, gate_);
            CheckJack(jack_set_xrun_callback(client_, &JackSink::Xrun, gate_), "jack_set_xrun_callback");
            CheckJack(ActivateJackClient(client_), "jack_activate");
            const int connected = ConnectJackPorts(client_, jack_port_name(port_), device.c_str());
            if (connected != EEXIST) CheckJack(connected, "jack_connect");
            // A physical port (a driver's or a bridge's) passes the bytes on to a cable.
            const jack_port_t* destination = jack_port_by_name(client_, device.c_str());
            physical_ = destination && (jack_port_flags(destination) & JackPortIsPhysical) != 0;
        } catch (...) {
            Close();
            throw;
        }
    }

    ~JackSink() override {
        WaitForCycleEnd();
        Close();
    }

    bool LeadsToCable() const override { return physical_; }

    void Deliver(std::span<const std::uint8_t> message) override {
        DeliverHandedAt(message, std::chrono::steady_clock::now());
    }

    void DeliverHandedAt(std::span<const std::uint8_t> message,
                         std::chrono::steady_clock::time_point handedOver) override {
        ThrowIfGone();
        if (physical_) {
            // Nothing tells how fast a driver's port passes bytes on to its cable: never faster
            // than the cable, whatever speed was asked for.
            const auto now = WirePacer::Clock::now();
            std::this_thread::sleep_for(pacer_.Reserve(message.size(), now));
            handedOver = std::max(handedOver, WirePacer::Clock::now());
        }
        if (message.size() > std::numeric_limits<std::uint32_t>::max()) {
            throw BackendFailure("JACK", "送信", std::to_string(message.size()) + " バイトは長すぎます", -EMSGSIZE);
        }
        const RecordHeader header{static_cast<std::uint32_t>(message.size()), HandOverFrame(handedOver)};
        // Where the message lies in the stream the callback reads, so that a doubt about some
        // bytes of it names it; its end is known once it is all in.
        sent_.push_back({produced_, std::numeric_limits<std::uint64_t>::max(), delivered_++, false});
        // The header and as much of the message as the ring holds become readable at once, so
        // the callback never sees a message it cannot start; the rest follows as the callback
        // makes room, and the callback never splits the message more than the port buffer and
        // those later bytes force it to.
        const std::size_t first = std::min(message.size(), RingBytes / 2);
        WaitFor([&] { return jack_ringbuffer_write_space(ring_) >= sizeof header + first; });
        Put(&header, sizeof header, message.first(first));
        for (std::size_t at = first; at < message.size();) {
            WaitFor([&] { return jack_ringbuffer_write_space(ring_) > 0; });
            const std::size_t count = std::min(message.size() - at, jack_ringbuffer_write_space(ring_));
            Put(nullptr, 0, message.subspan(at, count));
            at += count;
        }
        sent_.back().end = produced_;
        recordEnds_.push_back(produced_);
    }

    std::uint64_t Drain(const std::function<bool()>& moreWaiting, std::uint64_t pending) override {
        try {
            WaitFor([&] { return consumed_.load(std::memory_order_acquire) == produced_ || moreWaiting(); });
        } catch (...) {
            recordEnds_.clear();  // the port counts every pending message as failed
            throw;
        }
        // The cycle after the last bytes tells whether they went out in time (TakeDoubts);
        // bounded, as a suspended server starts none.
        if (consumed_.load(std::memory_order_acquire) == produced_) {
            const auto deadline = std::chrono::steady_clock::now() + CycleEndLimit;
            while (settled_.load(std::memory_order_acquire) < produced_ && !gone_.load(std::memory_order_acquire) &&
                   std::chrono::steady_clock::now() < deadline && !moreWaiting()) {
                std::this_thread::sleep_for(PollInterval);
            }
        }
        // Records are taken in order: those that end at or before what the callback has read are out.
        const std::uint64_t consumed = consumed_.load(std::memory_order_acquire);
        std::uint64_t held = 0;
        while (!recordEnds_.empty() && recordEnds_.front() <= consumed) {
            recordEnds_.pop_front();
            ++held;
        }
        return std::min(held, pending);
    }

    std::vector<std::uint64_t> TakeDoubts() override {
        const std::uint64_t settled = settled_.load(std::memory_order_acquire);
        std::vector<std::uint64_t> doubts;
        Range range;
        while (jack_ringbuffer_read_space(doubts_) >= sizeof range) {
            jack_ringbuffer_read(doubts_, reinterpret_cast<char*>(&range), sizeof range);
            for (SentMessage& message : sent_) {
                if (message.start >= range.to) break;
                if (message.end <= range.from || message.named) continue;
                doubts.push_back(message.number);
                message.named = true;
            }
        }
        // Whatever ends before the settled point can draw no more doubts.
        while (!sent_.empty() && sent_.front().end <= settled) sent_.pop_front();
        std::sort(doubts.begin(), doubts.end());
        return doubts;
    }

private:
    // Writes `prefix` and then `bytes` into the ring and makes them readable together. The
    // caller has made sure they fit.
    void Put(const void* prefix, std::size_t prefixBytes, std::span<const std::uint8_t> bytes) {
        jack_ringbuffer_data_t parts[2];
        jack_ringbuffer_get_write_vector(ring_, parts);
        std::size_t written = 0;
        auto put = [&](const void* from, std::size_t count) {
            const auto* source = static_cast<const char*>(from);
            while (count > 0) {
                std::size_t at = written;
                int part = 0;
                if (at >= parts[0].len) {
                    at -= parts[0].len;
                    part = 1;
                }
                const std::size_t room = std::min(count, parts[part].len - at);
                std::memcpy(parts[part].buf + at, source, room);
                source += room;
                count -= room;
                written += room;
            }
        };
        if (prefixBytes > 0) put(prefix, prefixBytes);
        if (!bytes.empty()) put(bytes.data(), bytes.size());
        jack_ringbuffer_write_advance(ring_, written);
        produced_ += written;
    }

    // The frame (on the server's clock) of a hand-over that happened `handedOver`; a port that was
    // busy meanwhile makes that a while ago.
    jack_nframes_t HandOverFrame(std::chrono::steady_clock::time_point handedOver) const {
        const JackClientUse use(*record_);
        if (!use) throw DeviceGone(JackServerGoneText);
        const auto ago = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - handedOver);
        const auto agoFrames = std::clamp<std::int64_t>(ago.count(), 0, 10'000'000) *
                               static_cast<std::int64_t>(jack_get_sample_rate(client_)) / 1'000'000;
        return jack_frame_time(client_) - static_cast<jack_nframes_t>(agoFrames);
    }

    // Once the server or the receiving port has gone, nothing queued can ever arrive: the port
    // gives all of it up at once instead of waiting StallLimit for each message. A receiver that
    // comes back is a new port, reached only through a new open.
    void ThrowIfGone() const {
        if (gone_.load(std::memory_order_acquire)) throw DeviceGone(JackServerGoneText);
        // The lifecycle thread may close the client once its server has gone.
        const JackClientUse use(*record_);
        if (!use) throw DeviceGone(JackServerGoneText);
        if (disconnected_.load(std::memory_order_acquire) ||
            !jack_port_by_name(client_, device_.c_str())) {
            throw DeviceGone(JackReceiverGoneText);
        }
    }

    // Polls, because the process callback may not signal anyone. Fails when the server or the
    // receiver has gone, or the server has taken nothing for StallLimit.
    template <typename Ready>
    void WaitFor(Ready ready) {
        auto progress = consumed_.load(std::memory_order_acquire);
        auto deadline = std::chrono::steady_clock::now() + StallLimit;
        while (!ready()) {
            ThrowIfGone();
            const auto now = consumed_.load(std::memory_order_acquire);
            if (now != progress) {
                progress = now;
                deadline = std::chrono::steady_clock::now() + StallLimit;
            } else if (std::chrono::steady_clock::now() >= deadline) {
                throw BackendFailure("JACK", "送信", "サーバーがデータを受け取りません", -ETIMEDOUT);
            }
            std::this_thread::sleep_for(PollInterval);
        }
    }

    // Realtime thread: only ring reads, port-buffer writes and one atomic store.
    static int Process(jack_nframes_t frames, void* arg) {
        Gate& gate = *static_cast<Gate*>(arg);
        const Gate::Entry entry(gate);
        JackSink* const self = entry.port;
        if (!self) {
            gate.Silence(frames);
            return 0;
        }
        self->cycles_.fetch_add(1, std::memory_order_release);
        if (!self->CheckCycle(frames)) return 0;
        void* buffer = jack_port_get_buffer(self->port_, frames);
        jack_midi_clear_buffer(buffer);
        // jack_connect returns before the new connection reaches the process graph; bytes
        // written until then would go nowhere, so they wait in the ring. (A lock-free read.)
        if (jack_port_connected(self->port_) == 0) {
            if (self->connectedOnce_.load(std::memory_order_relaxed)) {
                self->disconnected_.store(true, std::memory_order_release);
            }
            return 0;
        }
        self->connectedOnce_.store(true, std::memory_order_release);
        // What was handed over during the previous cycle is played one period later at its own
        // offset; anything that waited longer goes as early as the events before it allow.
        const jack_nframes_t cycleStart = jack_last_frame_time(self->client_);
        std::uint64_t taken = 0;
        jack_nframes_t next = 0;  // the earliest frame the next event may take
        bool any = false;
        for (;;) {
            if (self->remaining_ == 0) {
                if (jack_ringbuffer_read_space(self->ring_) < sizeof(RecordHeader)) break;
                RecordHeader header;
                jack_ringbuffer_peek(self->ring_, reinterpret_cast<char*>(&header), sizeof header);
                const auto offset = static_cast<std::int32_t>(header.frame + frames - cycleStart);
                // A record handed over during this cycle is due in the next one. A frame further
                // ahead only means the estimate of "now" ran ahead of the server's cycles (a
                // server held up by a busy machine or stopped for a while): waiting for it would
                // hold back everything behind it by as long, so it goes at once.
                const auto period = static_cast<std::int32_t>(frames);
                if (offset >= period && offset < 2 * period) break;
                // A message that still fits whole into an empty buffer waits for the next cycle
                // rather than being split.
                const std::size_t room = jack_midi_max_event_size(buffer);
                if (any && header.length > room) break;
                jack_ringbuffer_read_advance(self->ring_, sizeof header);
                taken += sizeof header;
                self->remaining_ = header.length;
                if (offset > 0 && offset < period) next = std::max(next, static_cast<jack_nframes_t>(offset));
                if (header.length == 0) continue;
            }
            const std::size_t room = jack_midi_max_event_size(buffer);
            const std::size_t count = std::min(self->remaining_, room);
            if (count == 0) break;
            // A message longer than the ring may still be coming in: a part of it goes only once
            // it fills the event or ends the message, so that it takes no more events than the
            // port buffer forces, however late the port's thread refills the ring.
            if (jack_ringbuffer_read_space(self->ring_) < count) break;
            const jack_nframes_t time = std::min(next, frames - 1);
            jack_midi_data_t* slot = jack_midi_event_reserve(buffer, time, count);
            if (!slot) break;
            jack_ringbuffer_read(self->ring_, reinterpret_cast<char*>(slot), count);
            self->remaining_ -= count;
            taken += count;
            next = time + 1;
            any = true;
        }
        if (taken) self->consumed_.fetch_add(taken, std::memory_order_release);
        return 0;
    }

    // Realtime thread. After a gap (JackCycleWatch) our last run came too late for its cycle,
    // so what it put out reached nobody: its bytes are in doubt. The server's xrun notice (some
    // client late: the receiver, or the receiver held up by us, as it runs only once we are
    // done) puts the last few runs in doubt, as the notice comes later. Without it a sender
    // stopped for 120 ms lost part of a message unnamed in tests. Returns false for a late
    // wake-up in a cycle that has run already: its events are out.
    bool CheckCycle(jack_nframes_t frames) {
        const std::uint64_t consumed = consumed_.load(std::memory_order_relaxed);
        const JackCycleWatch::Seen seen = watch_.Next(client_, frames);
        if (seen.gap) Doubt(runStarts_[(runs_ + RunsKept - 1) % RunsKept], consumed);
        if (seen.xrun) Doubt(runStarts_[runs_ % RunsKept], consumed);
        runStarts_[runs_ % RunsKept] = consumed;
        ++runs_;
        // A doubt the ring had no room for holds the settled point back until it is told.
        if (pending_.to > pending_.from && jack_ringbuffer_write_space(doubts_) >= sizeof(Range)) {
            jack_ringbuffer_write(doubts_, reinterpret_cast<const char*>(&pending_), sizeof pending_);
            pending_ = {};
        }
        settled_.store(pending_.to > pending_.from ? pending_.from : consumed, std::memory_order_release);
        return !seen.again;
    }

    // Realtime thread: the stream's bytes [from, to) may not have arrived.
    void Doubt(std::uint64_t from, std::uint64_t to) {
        if (from >= to) return;
        if (pending_.to > pending_.from) {
            pending_ = {std::min(pending_.from, from), std::max(pending_.to, to)};
            return;
        }
        const Range range{from, to};
        if (jack_ringbuffer_write_space(doubts_) >= sizeof range) {
            jack_ringbuffer_write(doubts_, reinterpret_cast<const char*>(&range), sizeof range);
        } else {
            pending_ = range;
        }
    }

    // libjack's notification thread.
    static int Xrun(void* arg) {
        const Gate::Entry entry(*static_cast<Gate*>(arg));
        if (entry.port) entry.port->watch_.XrunNotice();
        return 0;
    }

    static void Shutdown(jack_status_t, const char*, void* arg) {
        const Gate::Entry entry(*static_cast<Gate*>(arg));
        if (entry.port) entry.port->gone_.store(true, std::memory_order_release);
    }

    // Bytes the callback has taken reach the receiver only when their cycle ends; a port of the
    // same device that sends next (QueuedPort's turn) must not put its bytes into that cycle
    // too, so the last port waits until the next cycle has begun. Bounded: a suspended server
    // starts none.
    void WaitForCycleEnd() const {
        if (gone_.load(std::memory_order_acquire) || !connectedOnce_.load(std::memory_order_acquire)) return;
        const auto seen = cycles_.load(std::memory_order_acquire);
        const auto deadline = std::chrono::steady_clock::now() + CycleEndLimit;
        while (cycles_.load(std::memory_order_acquire) == seen && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(PollInterval);
        }
    }

    // Returns at once, whatever the server does: the callback is shut out, and the client closes
    // later on the lifecycle thread, taking the gate along.
    void Close() {
        CloseGatedClientLater(client_, record_, gate_, ownName_);
        if (ring_) {
            jack_ringbuffer_free(ring_);
            ring_ = nullptr;
        }
        if (doubts_) {
            jack_ringbuffer_free(doubts_);
            doubts_ = nullptr;
        }
    }

    using Gate = JackCallbackGate<JackSink>;

    // Bytes of the stream the callback reads, counted as consumed_ counts them.
    struct Range {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
    };
    struct SentMessage {
        std::uint64_t start;
        std::uint64_t end;
        std::uint64_t number;  // in the order delivered
        bool named;            // in doubt, and said so
    };
    static constexpr std::size_t DoubtBytes = 4096 * sizeof(Range);
    static constexpr std::uint64_t RunsKept = 8;  // runs an xrun notice may come after

    std::string device_;
    bool physical_ = false;
    WirePacer pacer_{WirePacer::Clock::now()};  // port thread only; for a physical port
    // Freed once the client has closed (CloseJackClientLater), never under a callback.
    Gate* gate_ = new Gate(this);
    jack_client_t* client_ = nullptr;
    std::shared_ptr<JackClientRecord> record_;  // how the client is named when it closes
    std::string ownName_;  // as the server named the client
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    std::size_t remaining_ = 0;                 // process callback only
    std::atomic<bool> connectedOnce_{false};   // written by the callback
    std::atomic<std::uint64_t> cycles_{0};     // written by the callback
    std::atomic<bool> disconnected_{false};    // written by the callback
    std::uint64_t produced_ = 0;                // port thread only
    std::deque<std::uint64_t> recordEnds_;      // port thread only: produced_ after each record not yet read
    std::atomic<std::uint64_t> consumed_{0};   // written by the callback
    std::atomic<bool> gone_{false};            // written by libjack's shutdown notice
    jack_ringbuffer_t* doubts_ = nullptr;       // Range records, from the callback to the port thread
    std::atomic<std::uint64_t> settled_{0};    // consumed_ up to which doubts are told; by the callback
    JackCycleWatch watch_;
    // Process callback only.
    std::uint64_t runStarts_[RunsKept] = {};    // consumed_ when each of the last runs began
    std::uint64_t runs_ = 0;
    Range pending_;                              // a doubt not yet in the ring
    // Port thread only.
    std::deque<SentMessage> sent_;               // delivered, and doubts about them may still come
    std::uint64_t delivered_ = 0;
};

class JackOutputService final : public ListedOutputService<std::string> {
public:
    JackOutputService() : ListedOutputService("JACK") { SilenceLibJack(); }

private:
    // A suspended server answers nothing; after JackAnswerLimit it counts as absent.
    std::vector<std::string> List() override {
        return WithoutOwnPorts(ListJackMidiPortsWithinLimit(JackPortIsInput));
    }
    std::string NameOf(const std::string& device) const override { return device; }
    std::unique_ptr<OutputPort> OpenPort(const std::string& device) override {
        return RunWithinJackLimit<std::unique_ptr<OutputPort>>("接続", [device] {
            return std::make_unique<QueuedPort>("jack " + device, std::make_unique<JackSink>(device));
        });
    }
};

}  // namespace

std::unique_ptr<OutputService> MakeJackOutputService() {
    return std::make_unique<JackOutputService>();
}

}  // namespace midi
