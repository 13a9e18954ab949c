#include "midi/alsa/AlsaOutput.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <cerrno>
#include <cstdarg>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/BackendFailure.h"
#include "midi/ListedOutputService.h"
#include "midi/OwnClients.h"
#include "midi/QueuedPort.h"
#include "midi/WirePacer.h"
#include "midi/alsa/AlsaSeq.h"

namespace midi {

namespace {

// How long a port may refuse data (pool full) before the message counts as failed.
constexpr auto StallLimit = std::chrono::seconds(5);

struct AlsaDevice {
    int client = 0;
    int port = 0;
    std::string name;
    bool cable = false;  // stands for a cable or a raw MIDI device: never faster than 3,125 bytes/s
    int card = -1;       // of a port of snd-seq-midi, which stands for a raw MIDI device's output
};

// snd-seq-midi gives a card's raw MIDI subdevice S of device D the port D * 32 + S of the card's
// kernel client, typed HARDWARE (snd-virmidi's ports, whose raw MIDI device is the far end,
// are not).
constexpr int PortsPerRawMidiDevice = 256 / 8;

int RawMidiCard(int clientType, int card, unsigned portType) {
    const bool hardware = (portType & SND_SEQ_PORT_TYPE_HARDWARE) != 0;
    return clientType == SND_SEQ_KERNEL_CLIENT && hardware ? card : -1;
}

// The kernel's own clients are its drivers (sound cards, USB MIDI, snd-virmidi): whatever type
// their ports claim (snd-virmidi's say only MIDI_GENERIC), their bytes end in a rawmidi buffer
// that drops what does not fit. Only the ports of programs take bytes at memory speed.
bool StandsForCable(int clientType, unsigned portType) {
    return clientType == SND_SEQ_KERNEL_CLIENT ||
           (portType & (SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_PORT)) != 0;
}

class SeqHandle {
public:
    explicit SeqHandle(int streams) {
        CheckAlsa(snd_seq_open(&seq_, "default", streams, 0), "snd_seq_open");
    }
    ~SeqHandle() {
        if (seq_) snd_seq_close(seq_);
    }
    SeqHandle(const SeqHandle&) = delete;
    SeqHandle& operator=(const SeqHandle&) = delete;
    snd_seq_t* get() const { return seq_; }

private:
    snd_seq_t* seq_ = nullptr;
};

std::vector<AlsaDevice> ListDevices() {
    SeqHandle seq(SND_SEQ_OPEN_OUTPUT);
    const int self = CheckAlsa(snd_seq_client_id(seq.get()), "snd_seq_client_id");

    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);

    constexpr unsigned wanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    std::vector<AlsaDevice> devices;
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq.get(), client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        const int clientType = static_cast<int>(snd_seq_client_info_get_type(client));
        const int card = snd_seq_client_info_get_card(client);
        // The system client's timer and announce ports are not instruments.
        if (id == self || id == SND_SEQ_CLIENT_SYSTEM || IsOwnAlsaClient(id)) continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq.get(), port) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(port);
            if ((caps & wanted) != wanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
            const unsigned type = snd_seq_port_info_get_type(port);
            devices.push_back({id, snd_seq_port_info_get_port(port), snd_seq_port_info_get_name(port),
                               StandsForCable(clientType, type), RawMidiCard(clientType, card, type)});
        }
    }
    return devices;
}

// The raw MIDI output behind a port of snd-seq-midi, opened directly. The sequencer hands such
// a port's bytes to the device's raw MIDI buffer and drops what does not fit, and it tells
// nobody how full that buffer is; the raw MIDI device does (a write takes only what fits), so
// the device gets bytes exactly as fast as it passes them on: a USB interface far faster than
// a cable, a cable's UART at the cable's rate. Only one opener may hold it: while a program
// (or our own subscription) has the port through the sequencer, it cannot be opened; once open,
// it stays open until the port closes, since closing it cuts the bytes still in flight.
class RawOutput {
public:
    // None when the raw MIDI device cannot be opened for output (held by another user, gone).
    static std::unique_ptr<RawOutput> TryOpen(int card, int port) {
        const std::string name = "hw:" + std::to_string(card) + "," + std::to_string(port / PortsPerRawMidiDevice) +
                                 "," + std::to_string(port % PortsPerRawMidiDevice);
        snd_rawmidi_t* raw = nullptr;
        if (snd_rawmidi_open(nullptr, &raw, name.c_str(), SND_RAWMIDI_NONBLOCK) < 0 || !raw) return nullptr;
        return std::unique_ptr<RawOutput>(new RawOutput(raw));
    }

    // A USB interface still has the last bytes in flight when the buffer is empty, and closing
    // gives them only 50 ms before it cancels them; a device behind a slow cable may need more.
    // Our own queue is empty here unless the device failed, and then its messages have been
    // counted as failed already.
    ~RawOutput() {
        const auto deadline = std::chrono::steady_clock::now() + CloseLimit;
        while (Buffered() > 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(InFlightTime);
        snd_rawmidi_close(raw_);
    }
    RawOutput(const RawOutput&) = delete;
    RawOutput& operator=(const RawOutput&) = delete;

    // Takes the bytes into our own queue, which goes to the device's buffer whenever that is
    // empty, and returns once at most one buffer's worth is still queued; throws when the device
    // takes nothing for `stallLimit` or fails.
    //
    // The device's buffer is only ever filled while the device is idle. The kernel moves its
    // write pointer before it copies our bytes in, with the buffer unlocked; a device that is
    // still taking bytes meanwhile (snd-usb-audio fills its USB transfers from the buffer as
    // each one completes) can catch up with the pointer before the copy is done and send what
    // the buffer held a lap earlier, while our bytes there are never sent. A writer that is
    // preempted in that copy on a busy machine is enough: a megabyte at the fastest speed
    // arrived with 160 bytes of it replaced by those 4,096 bytes earlier. So each refill waits
    // until the device has taken everything and has stopped, and then fills the buffer in one
    // go; the device starts again only after the copy. The queue lets short messages that come
    // meanwhile share one refill.
    void Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds stallLimit) {
        if (head_ > 0 && head_ >= queue_.size() / 2) {
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
        queue_.insert(queue_.end(), bytes.begin(), bytes.end());
        accepted_ += bytes.size();
        WaitUntilTaken(stallLimit, [this] { return Queued() <= bufferBytes_; });
    }

    // Passes the queue on and waits until the device has taken every byte from its buffer, or
    // `stopEarly` says so; returns how many bytes are still queued or in the buffer. Throws
    // when the device takes nothing for `stallLimit` or fails.
    std::uint64_t WaitUntilTaken(std::chrono::milliseconds stallLimit, const std::function<bool()>& stopEarly) {
        auto deadline = std::chrono::steady_clock::now() + stallLimit;
        for (;;) {
            std::uint64_t buffered = Buffered();
            if (buffered == 0 && Queued() > 0 && Refill()) {
                deadline = std::chrono::steady_clock::now() + stallLimit;
                continue;
            }
            if (buffered + Queued() == 0 || stopEarly()) return buffered + Queued();
            if (std::chrono::steady_clock::now() >= deadline) {
                throw BackendFailure("ALSA", "送信", "デバイスがデータを受け取りません", -ETIMEDOUT);
            }
            // Poll wakes once at most one byte is left, and at once while it is; the last byte
            // is waited for in short sleeps.
            if (buffered > 1) {
                WaitForRoom();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (Buffered() < buffered) deadline = std::chrono::steady_clock::now() + stallLimit;
        }
    }

    // Bytes taken by Write so far, and of those the ones the device has not yet taken from the
    // buffer.
    std::uint64_t Accepted() const { return accepted_; }
    std::uint64_t Buffered() const {
        snd_rawmidi_status_t* status;
        snd_rawmidi_status_alloca(&status);
        if (snd_rawmidi_status(raw_, status) < 0) return 0;  // a device gone holds nothing
        const std::size_t avail = snd_rawmidi_status_get_avail(status);
        return bufferBytes_ > avail ? bufferBytes_ - avail : 0;
    }

private:
    static constexpr auto CloseLimit = std::chrono::seconds(2);
    static constexpr std::size_t PreferredBufferBytes = 64 * 1024;
    static constexpr auto InFlightTime = std::chrono::milliseconds(200);

    explicit RawOutput(snd_rawmidi_t* raw) : raw_(raw) {
        snd_rawmidi_params_t* params;
        snd_rawmidi_params_alloca(&params);
        // Writes wait for an empty buffer, so poll need not wake before the last byte is taken
        // (alsa-lib wants the threshold below the buffer's size). Each refill stops a device
        // that takes bytes quickly for a moment; a buffer larger than the kernel's one page
        // makes those moments rarer. A driver that refuses the size keeps its own.
        if (snd_rawmidi_params_current(raw_, params) >= 0 &&
            snd_rawmidi_params_set_buffer_size(raw_, params, PreferredBufferBytes) >= 0 &&
            snd_rawmidi_params_set_avail_min(raw_, params, PreferredBufferBytes - 1) >= 0) {
            snd_rawmidi_params(raw_, params);
        }
        if (snd_rawmidi_params_current(raw_, params) >= 0) {
            bufferBytes_ = snd_rawmidi_params_get_buffer_size(params);
            if (snd_rawmidi_params_get_avail_min(params) + 1 < bufferBytes_ &&
                snd_rawmidi_params_set_avail_min(raw_, params, bufferBytes_ - 1) >= 0) {
                snd_rawmidi_params(raw_, params);
            }
        }
        if (bufferBytes_ == 0) bufferBytes_ = 4096;  // the kernel's default, should the query fail
    }

    std::uint64_t Queued() const { return queue_.size() - head_; }

    // Called with the device's buffer empty. Every transfer still in flight completes and the
    // device stops taking bytes until the write starts it again (at most 50 ms for
    // snd-usb-audio); with an empty buffer nothing is dropped and the kernel's own ten-second
    // limit cannot strike. Says whether the device's buffer took anything.
    bool Refill() {
        const int stopped = snd_rawmidi_drain(raw_);
        if (stopped < 0) CheckAlsa(stopped, "snd_rawmidi_drain");
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(Queued(), bufferBytes_));
        const ssize_t written = snd_rawmidi_write(raw_, queue_.data() + head_, count);
        if (written < 0 && written != -EAGAIN) CheckAlsa(static_cast<int>(written), "snd_rawmidi_write");
        if (written <= 0) return false;
        head_ += static_cast<std::size_t>(written);
        if (head_ == queue_.size()) {
            queue_.clear();
            head_ = 0;
        }
        return true;
    }

    // Returns when the buffer has emptied or after a short while, whichever is first.
    void WaitForRoom() const {
        pollfd fds[4];
        const int count = snd_rawmidi_poll_descriptors(raw_, fds, 4);
        if (count > 0) {
            poll(fds, static_cast<nfds_t>(count), 20);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    snd_rawmidi_t* raw_;
    std::size_t bufferBytes_ = 0;
    std::vector<std::uint8_t> queue_;  // bytes from queue_[head_] on have not reached the device's buffer
    std::size_t head_ = 0;
    std::uint64_t accepted_ = 0;
};

class AlsaSink final : public MessageSink {
public:
    explicit AlsaSink(const AlsaDevice& device)
        : device_(device), seq_(SND_SEQ_OPEN_OUTPUT), pacer_(WirePacer::Clock::now()), paced_(device.cable) {
        CheckAlsa(snd_seq_set_client_name(seq_.get(), "Kelvane"), "snd_seq_set_client_name");
        own_.Set(CheckAlsa(snd_seq_client_id(seq_.get()), "snd_seq_client_id"));
        // A device listed earlier may have gone, and its client number may since have been
        // given to this very client: connecting would then subscribe our own port.
        if (device.client == CheckAlsa(snd_seq_client_id(seq_.get()), "snd_seq_client_id")) {
            throw Gone("接続");
        }
        CheckStillThere("接続");
        port_ = CheckAlsa(snd_seq_create_simple_port(seq_.get(), "Kelvane out",
                                                 SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC |
                                                     SND_SEQ_PORT_TYPE_APPLICATION),
                      "snd_seq_create_simple_port");
        if (device.card < 0) Subscribe();
    }

    void Deliver(std::span<const std::uint8_t> message) override {
        CheckStillThere("送信");
        if (device_.card >= 0 && !subscribed_) {
            if (!raw_) raw_ = RawOutput::TryOpen(device_.card, device_.port);
            if (raw_) {
                raw_->Write(message, StallLimit);
                messageEnds_.push_back(raw_->Accepted());
                return;
            }
            // Another program holds the device through the sequencer: go along with it, at the
            // cable's rate, for as long as this port is open.
            Subscribe();
        }
        for (std::size_t offset = 0; offset < message.size(); offset += AlsaChunkBytes) {
            const auto chunk = message.subspan(offset, std::min(AlsaChunkBytes, message.size() - offset));
            if (paced_) std::this_thread::sleep_for(pacer_.Reserve(chunk.size(), WirePacer::Clock::now()));
            SendChunk(chunk);
        }
    }

    // Only the raw MIDI device tells what it has passed on.
    std::uint64_t Drain(const std::function<bool()>& moreWaiting, std::uint64_t pending) override {
        if (!raw_) return pending;
        try {
            const std::uint64_t buffered = raw_->WaitUntilTaken(StallLimit, moreWaiting);
            const std::uint64_t passed = raw_->Accepted() - buffered;
            std::uint64_t held = 0;
            while (!messageEnds_.empty() && messageEnds_.front() <= passed) {
                messageEnds_.pop_front();
                ++held;
            }
            return std::min(held, pending);
        } catch (...) {
            messageEnds_.clear();
            raw_.reset();
            throw;
        }
    }

private:
    void Subscribe() {
        CheckAlsa(snd_seq_connect_to(seq_.get(), port_, device_.client, device_.port), "snd_seq_connect_to");
        subscribed_ = true;
    }

    BackendFailure Gone(const char* operation) const {
        return BackendFailure("ALSA", operation, "デバイス " + device_.name + " がありません", -ENODEV);
    }

    // The port at the device's address must still be the device's: events sent to a vanished
    // port's subscribers would vanish without an error.
    void CheckStillThere(const char* operation) const {
        snd_seq_port_info_t* info;
        snd_seq_port_info_alloca(&info);
        constexpr unsigned wanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
        if (snd_seq_get_any_port_info(seq_.get(), device_.client, device_.port, info) < 0 ||
            device_.name != snd_seq_port_info_get_name(info) ||
            (snd_seq_port_info_get_capability(info) & wanted) != wanted) {
            throw Gone(operation);
        }
    }

    void SendChunk(std::span<const std::uint8_t> chunk) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, port_);
        // Addressed to the device itself rather than to our subscribers, so that a device that
        // has gone makes the write fail instead of the bytes going nowhere.
        snd_seq_ev_set_dest(&event, device_.client, device_.port);
        snd_seq_ev_set_direct(&event);
        // alsa-lib only reads the bytes; its setter just lacks const.
        snd_seq_ev_set_sysex(&event, static_cast<unsigned>(chunk.size()),
                             const_cast<std::uint8_t*>(chunk.data()));
        const auto deadline = std::chrono::steady_clock::now() + StallLimit;
        for (;;) {
            const int result = snd_seq_event_output_direct(seq_.get(), &event);
            if (result >= 0) return;
            // A full kernel pool clears as the device takes bytes; anything else is final.
            if ((result != -EAGAIN && result != -ENOMEM) ||
                std::chrono::steady_clock::now() >= deadline) {
                CheckAlsa(result, "snd_seq_event_output_direct");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    AlsaDevice device_;
    SeqHandle seq_;
    OwnAlsaClientMark own_;  // keeps our own client out of the listings
    int port_ = 0;
    WirePacer pacer_;
    bool paced_;
    bool subscribed_ = false;
    std::unique_ptr<RawOutput> raw_;          // from the first message on, for a raw MIDI device
    std::deque<std::uint64_t> messageEnds_;  // raw_->Accepted() after each message not yet passed on
};

class AlsaOutputService final : public ListedOutputService<AlsaDevice> {
public:
    AlsaOutputService() : ListedOutputService("ALSA") { SilenceAlsaLib(); }

private:
    std::vector<AlsaDevice> List() override { return ListDevices(); }
    std::string NameOf(const AlsaDevice& device) const override { return device.name; }
    std::unique_ptr<OutputPort> OpenPort(const AlsaDevice& device) override {
        return std::make_unique<QueuedPort>(
            "alsa " + std::to_string(device.client) + ":" + std::to_string(device.port),
            std::make_unique<AlsaSink>(device));
    }
};

}  // namespace

std::unique_ptr<OutputService> MakeAlsaOutputService() {
    return std::make_unique<AlsaOutputService>();
}

}  // namespace midi
