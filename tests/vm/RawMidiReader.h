#pragma once
// Reads everything that reaches a virmidi rawmidi input, from its own thread, so that the test
// sees exactly the bytes the sequencer delivered to the virmidi port.
//
// virmidi hands bytes over at memory speed and drops whatever does not fit the rawmidi buffer,
// and it passes nothing on until the input has been triggered by a read. So the constructor
// raises the buffer to the kernel's maximum and triggers the input before it returns: construct
// the reader before anything is sent.

#include <alsa/asoundlib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kelvane::vm {

class RawMidiReader {
public:
    // Throws std::runtime_error naming the failing call when the device cannot be read. With
    // `bytesPerSecond` the reader stands for a device behind a MIDI cable instead: it keeps the
    // kernel's default buffer and takes no more bytes a second than that.
    explicit RawMidiReader(const std::string& device, std::size_t bytesPerSecond = 0);
    ~RawMidiReader();
    RawMidiReader(const RawMidiReader&) = delete;
    RawMidiReader& operator=(const RawMidiReader&) = delete;

    // Waits until the last bytes to arrive are `marker` (testsupport::NewEndMarker) and returns
    // everything before them; nothing when the marker has not come within the timeout. Sent
    // after the expected bytes, the marker shows that no stray bytes follow them.
    std::optional<std::vector<std::uint8_t>> BytesBefore(const std::vector<std::uint8_t>& marker,
                                                         std::chrono::milliseconds timeout);

    // How many times the kernel's buffer overran since the reader opened, i.e. how often bytes
    // were lost before we could read them.
    std::size_t Overruns();

private:
    void ReadLoop();
    // Adds the kernel's overrun count, which it clears on every query, to overruns_.
    void AddOverrunsLocked();

    snd_rawmidi_t* input_ = nullptr;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::uint8_t> received_;
    bool stop_ = false;
    std::size_t overruns_ = 0;
    std::size_t bytesPerSecond_ = 0;
    std::thread thread_;
};

}  // namespace kelvane::vm
