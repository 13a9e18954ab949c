#pragma once
// A sequencer client of the test's own with one writable, subscribable port: a device that the
// backend lists like any other and that the test can make go away at a moment of its choosing.
// Its events are read through the sequencer, so it also tells which device a message reached.

#include <alsa/asoundlib.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane::vm {

class SeqSink {
public:
    // Throws std::runtime_error naming the failing call.
    SeqSink(const std::string& clientName, const std::string& portName);
    ~SeqSink();
    SeqSink(const SeqSink&) = delete;
    SeqSink& operator=(const SeqSink&) = delete;

    // Closes the client, which removes its port from the sequencer.
    void Close();

    // Collects the bytes of the SysEx events that reach the port until byteCount bytes have
    // come or the timeout has passed.
    std::vector<std::uint8_t> Receive(std::size_t byteCount, std::chrono::milliseconds timeout);

private:
    snd_seq_t* seq_ = nullptr;
};

}  // namespace kelvane::vm
