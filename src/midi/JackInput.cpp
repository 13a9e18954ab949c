#include "midi/JackInput.h"

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
#include "midi/JackClient.h"
#include "midi/ListedInputService.h"

namespace midi {

namespace {

// A second of bytes at the fastest a JACK sender can go in one cycle, many times over: 100
// messages of 64 KiB sent back to back need the collecting thread to keep up only on average.
constexpr std::size_t RingBytes = std::size_t{1} << 23;
constexpr auto CollectInterval = std::chrono::milliseconds(2);

class JackInputPort final : public InputPort {
public:
    JackInputPort(const std::string& source, ByteReceiver receiver) : receiver_(std::move(receiver)) {
        try {
            ring_ = jack_ringbuffer_create(RingBytes);
            if (!ring_) throw BackendFailure("JACK", "jack_ringbuffer_create", "", -ENOMEM);
            client_ = OpenJackClientOrThrow("Kelvane in");
            port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
            if (!port_) throw BackendFailure("JACK", "jack_port_register", "", -EIO);
            CheckJack(jack_set_process_callback(client_, &JackInputPort::Process, gate_),
                  "jack_set_process_callback");
            jack_on_info_shutdown(client_, &JackInputPort::Shutdown, gate_);
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

    std::string LastError() const override {
        if (overflowed_.load(std::memory_order_relaxed)) return JackInputOverflowText;
        if (gone_.load(std::memory_order_relaxed)) return JackServerGoneForInputText;
        return {};
    }

private:
    // Realtime thread: only port-buffer reads, ring writes and atomic stores.
    static int Process(jack_nframes_t frames, void* arg) {
        const Gate::Entry entry(*static_cast<Gate*>(arg));
        JackInputPort* const self = entry.port;
        if (!self) return 0;
        void* buffer = jack_port_get_buffer(self->port_, frames);
        const jack_nframes_t count = jack_midi_get_event_count(buffer);
        for (jack_nframes_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0) continue;
            if (jack_ringbuffer_write_space(self->ring_) < event.size) {
                // Losing part of the stream silently would store wrong messages; the front end
                // tells the user instead.
                self->overflowed_.store(true, std::memory_order_relaxed);
                continue;
            }
            jack_ringbuffer_write(self->ring_, reinterpret_cast<const char*>(event.buffer), event.size);
        }
        return 0;
    }

    static void Shutdown(jack_status_t, const char*, void* arg) {
        Gate& gate = *static_cast<Gate*>(arg);
        gate.NoteServerGone();
        const Gate::Entry entry(gate);
        if (entry.port) entry.port->gone_.store(true, std::memory_order_relaxed);
    }

    // The collecting thread: polls, since the process callback may not signal anyone.
    void Collect() {
        for (;;) {
            const bool last = stopping_.load(std::memory_order_acquire);
            jack_ringbuffer_data_t parts[2];
            jack_ringbuffer_get_read_vector(ring_, parts);
            const std::size_t total = parts[0].len + parts[1].len;
            for (const auto& part : parts) {
                if (part.len > 0) {
                    receiver_({reinterpret_cast<const std::uint8_t*>(part.buf), part.len});
                }
            }
            jack_ringbuffer_read_advance(ring_, total);
            // The last round runs after the callback has stopped, so nothing is left behind.
            if (last) return;
            if (total == 0) std::this_thread::sleep_for(CollectInterval);
        }
    }

    // Returns at once, whatever the server does: the callback is shut out first, so the
    // collector's last round finds everything it wrote, and the client closes later on the
    // lifecycle thread, taking the gate along.
    void Stop() {
        gate_->Detach();
        if (client_) {
            CloseJackClientLater(
                client_, [gate = gate_] { return gate->ServerGone(); }, [gate = gate_] { delete gate; });
            client_ = nullptr;
        } else {
            delete gate_;
        }
        gate_ = nullptr;
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
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    std::thread collector_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> overflowed_{false};   // written by the process callback
    std::atomic<bool> gone_{false};         // written by libjack's shutdown notice
};

class JackInputService final : public ListedInputService<std::string> {
public:
    JackInputService() : ListedInputService("JACK") { SilenceLibJack(); }

private:
    // A suspended server answers nothing; after JackAnswerLimit it counts as absent.
    std::vector<std::string> List() override {
        return ListJackMidiPortsWithinLimit(JackPortIsOutput);
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
        ByteReceiver gated = [gate, receiver = std::move(receiver)](std::span<const std::uint8_t> bytes) {
            std::lock_guard lock(gate->mutex);
            if (gate->open) receiver(bytes);
        };
        try {
            return RunWithinJackLimit<std::unique_ptr<InputPort>>("接続", [source, gated] {
                return std::unique_ptr<InputPort>(std::make_unique<JackInputPort>(source, gated));
            });
        } catch (...) {
            std::lock_guard lock(gate->mutex);
            gate->open = false;
            throw;
        }
    }
};

}  // namespace

std::unique_ptr<InputService> MakeJackInputService() {
    return std::make_unique<JackInputService>();
}

}  // namespace midi
