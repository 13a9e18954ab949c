#include "midi/alsa/AlsaInput.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/BackendFailure.h"
#include "midi/ListedInputService.h"
#include "midi/OwnClients.h"
#include "midi/alsa/AlsaSeq.h"

namespace midi {

namespace {

// The kernel's upper bound for a client's pool (SNDRV_SEQ_MAX_EVENTS).
constexpr int InputPoolCells = 2000;
// alsa-lib's read buffer; a SysEx event larger than it cannot be read at all.
constexpr std::size_t InputBufferBytes = std::size_t{1} << 18;
// How often the collecting thread looks whether it should stop.
constexpr int PollTimeoutMs = 50;

struct AlsaSource {
    int client = 0;
    int port = 0;
    std::string name;
};

std::vector<AlsaSource> ListSources() {
    snd_seq_t* seq = nullptr;
    CheckAlsa(snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, 0), "snd_seq_open");
    std::vector<AlsaSource> sources;
    const int self = snd_seq_client_id(seq);
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    constexpr unsigned wanted = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        if (id == self || id == SND_SEQ_CLIENT_SYSTEM || IsOwnAlsaClient(id)) continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(port);
            if ((caps & wanted) != wanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
            sources.push_back({id, snd_seq_port_info_get_port(port), snd_seq_port_info_get_name(port)});
        }
    }
    snd_seq_close(seq);
    return sources;
}

class AlsaInputPort final : public InputPort {
public:
    AlsaInputPort(const AlsaSource& source, ByteReceiver receiver)
        : receiver_(std::move(receiver)), sourceClient_(source.client), sourcePort_(source.port) {
        try {
            CheckAlsa(snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK), "snd_seq_open");
            CheckAlsa(snd_seq_set_client_name(seq_, "Kelvane"), "snd_seq_set_client_name");
            ownClient_ = CheckAlsa(snd_seq_client_id(seq_), "snd_seq_client_id");
            NoteOwnAlsaClient(ownClient_);
            CheckAlsa(snd_seq_set_client_pool_input(seq_, InputPoolCells), "snd_seq_set_client_pool_input");
            CheckAlsa(snd_seq_set_input_buffer_size(seq_, InputBufferBytes), "snd_seq_set_input_buffer_size");
            if (source.client == CheckAlsa(snd_seq_client_id(seq_), "snd_seq_client_id")) {
                throw BackendFailure("ALSA", "接続", "デバイス " + source.name + " がありません", -ENODEV);
            }
            port_ = CheckAlsa(snd_seq_create_simple_port(seq_, "Kelvane in",
                                                     SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                     SND_SEQ_PORT_TYPE_MIDI_GENERIC |
                                                         SND_SEQ_PORT_TYPE_APPLICATION),
                          "snd_seq_create_simple_port");
            CheckAlsa(snd_midi_event_new(256, &decoder_), "snd_midi_event_new");
            // Every status byte written out, so each one is seen where it falls.
            snd_midi_event_no_status(decoder_, 1);
            CheckAlsa(snd_seq_connect_from(seq_, port_, source.client, source.port), "snd_seq_connect_from");
            // The system's announcements tell when the source goes away or is disconnected.
            CheckAlsa(snd_seq_connect_from(seq_, port_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE),
                      "snd_seq_connect_from");
            collector_ = std::thread([this] { Collect(); });
        } catch (...) {
            Close();
            throw;
        }
    }

    ~AlsaInputPort() override {
        stopping_.store(true, std::memory_order_release);
        if (collector_.joinable()) collector_.join();
        Close();
    }

private:
    void Collect() {
        std::vector<pollfd> fds(static_cast<std::size_t>(snd_seq_poll_descriptors_count(seq_, POLLIN)));
        snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned>(fds.size()), POLLIN);
        while (!stopping_.load(std::memory_order_acquire)) {
            if (poll(fds.data(), fds.size(), PollTimeoutMs) <= 0) continue;
            ReadAll();
        }
        ReadAll();
    }

    void ReadAll() {
        for (;;) {
            snd_seq_event_t* event = nullptr;
            const int result = snd_seq_event_input(seq_, &event);
            if (result == -EAGAIN) return;
            if (result == -ENOSPC) {
                // The kernel dropped events for us: whatever message was open has a gap.
                receiver_.Lost(sysex::LossCause::Overrun, 0);
                continue;
            }
            if (result < 0 || !event) return;
            Pass(*event);
        }
    }

    void Pass(const snd_seq_event_t& event) {
        if (event.source.client == SND_SEQ_CLIENT_SYSTEM) {
            if (SourceLeft(event) && !sourceGone_.exchange(true)) receiver_.Lost(sysex::LossCause::SourceGone, 0);
            return;
        }
        if (event.type == SND_SEQ_EVENT_SYSEX) {
            receiver_({static_cast<const std::uint8_t*>(event.data.ext.ptr), event.data.ext.len});
            return;
        }
        unsigned char bytes[16];
        const long count = snd_midi_event_decode(decoder_, bytes, sizeof bytes, &event);
        if (count > 0) receiver_({bytes, static_cast<std::size_t>(count)});
    }

    bool SourceLeft(const snd_seq_event_t& event) const {
        switch (event.type) {
            case SND_SEQ_EVENT_CLIENT_EXIT: return event.data.addr.client == sourceClient_;
            case SND_SEQ_EVENT_PORT_EXIT:
                return event.data.addr.client == sourceClient_ && event.data.addr.port == sourcePort_;
            case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
                return event.data.connect.sender.client == sourceClient_ &&
                       event.data.connect.sender.port == sourcePort_ && event.data.connect.dest.port == port_;
            default: return false;
        }
    }

    void Close() {
        if (decoder_) {
            snd_midi_event_free(decoder_);
            decoder_ = nullptr;
        }
        if (seq_) {
            if (ownClient_ >= 0) ForgetOwnAlsaClient(ownClient_);
            snd_seq_close(seq_);
            seq_ = nullptr;
        }
    }

    ByteReceiver receiver_;
    snd_seq_t* seq_ = nullptr;
    snd_midi_event_t* decoder_ = nullptr;  // collecting thread only
    int port_ = 0;
    std::thread collector_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> sourceGone_{false};
    int ownClient_ = -1;
    const int sourceClient_;
    const int sourcePort_;
};

class AlsaInputService final : public ListedInputService<AlsaSource> {
public:
    AlsaInputService() : ListedInputService("ALSA") { SilenceAlsaLib(); }

private:
    std::vector<AlsaSource> List() override { return ListSources(); }
    std::string NameOf(const AlsaSource& source) const override { return source.name; }
    std::unique_ptr<InputPort> OpenPort(const AlsaSource& source, ByteReceiver receiver) override {
        return std::make_unique<AlsaInputPort>(source, std::move(receiver));
    }
};

}  // namespace

std::unique_ptr<InputService> MakeAlsaInputService() {
    return std::make_unique<AlsaInputService>();
}

}  // namespace midi
