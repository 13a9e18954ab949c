#include "SeqSink.h"

#include <poll.h>

#include <stdexcept>

namespace kelvane::vm {

namespace {

void Check(int result, const char* operation) {
    if (result < 0) {
        throw std::runtime_error(std::string(operation) + ": " + snd_strerror(result));
    }
}

}  // namespace

SeqSink::SeqSink(const std::string& clientName, const std::string& portName) {
    Check(snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK), "snd_seq_open");
    try {
        Check(snd_seq_set_client_name(seq_, clientName.c_str()), "snd_seq_set_client_name");
        Check(snd_seq_create_simple_port(seq_, portName.c_str(),
                                         SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                         SND_SEQ_PORT_TYPE_MIDI_GENERIC |
                                             SND_SEQ_PORT_TYPE_APPLICATION),
              "snd_seq_create_simple_port");
    } catch (...) {
        snd_seq_close(seq_);
        throw;
    }
}

SeqSink::~SeqSink() { Close(); }

void SeqSink::Close() {
    if (seq_ != nullptr) {
        snd_seq_close(seq_);
        seq_ = nullptr;
    }
}

std::vector<std::uint8_t> SeqSink::Receive(std::size_t byteCount,
                                           std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> bytes;
    if (seq_ == nullptr) return bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd fds[4];
    const int fdCount = snd_seq_poll_descriptors(seq_, fds, 4, POLLIN);
    while (bytes.size() < byteCount) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(seq_, &event);
        if (result == -EAGAIN) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            poll(fds, static_cast<nfds_t>(fdCount), static_cast<int>(left.count()));
            continue;
        }
        Check(result, "snd_seq_event_input");
        if (event->type == SND_SEQ_EVENT_SYSEX) {
            const auto* data = static_cast<const std::uint8_t*>(event->data.ext.ptr);
            bytes.insert(bytes.end(), data, data + event->data.ext.len);
        }
    }
    return bytes;
}

}  // namespace kelvane::vm
