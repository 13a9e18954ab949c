#include "midi/alsa/AlsaOutput.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
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
};

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
        // The system client's timer and announce ports are not instruments.
        if (id == self || id == SND_SEQ_CLIENT_SYSTEM || IsOwnAlsaClient(id)) continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq.get(), port) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(port);
            if ((caps & wanted) != wanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
            devices.push_back({id, snd_seq_port_info_get_port(port),
                               snd_seq_port_info_get_name(port),
                               StandsForCable(clientType, snd_seq_port_info_get_type(port))});
        }
    }
    return devices;
}

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
        CheckAlsa(snd_seq_connect_to(seq_.get(), port_, device.client, device.port),
              "snd_seq_connect_to");
    }

    void Deliver(std::span<const std::uint8_t> message) override {
        CheckStillThere("送信");
        for (std::size_t offset = 0; offset < message.size(); offset += AlsaChunkBytes) {
            const auto chunk = message.subspan(offset, std::min(AlsaChunkBytes, message.size() - offset));
            if (paced_) std::this_thread::sleep_for(pacer_.Reserve(chunk.size(), WirePacer::Clock::now()));
            SendChunk(chunk);
        }
    }

private:
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
