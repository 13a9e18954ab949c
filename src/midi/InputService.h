#pragma once
// The seam between receiving and the platform's MIDI input, the mirror of OutputService.
//
// A service lists the input devices (sources) the platform offers and opens one of them as an
// InputPort. Device numbers run from 0 to CountDevices() - 1 in the order of the last
// CountDevices() call; DeviceName and Open refer to that list.
//
// Threading: a service and its ports are used from one thread (the caller's, usually the
// window's). Each open port has a thread of its own that collects the device's bytes and hands
// them to the port's ByteReceiver, so nothing here waits for a device.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <type_traits>

#include "sysex/Loss.h"

namespace midi {

// Takes received bytes in the order they came off the wire, in pieces of any size (a piece may
// end inside a message), and, at the place in that order where it happened, every loss: bytes
// that never arrived, or the source going away. Both are called on the port's thread only,
// never on two threads at once, and never after the port has been destroyed. A receiver made
// from a bare callable for bytes ignores losses.
class ByteReceiver {
public:
    using Bytes = std::function<void(std::span<const std::uint8_t> bytes)>;
    // `events`: how many events or buffers went missing, 0 when the backend cannot tell.
    using Losses = std::function<void(sysex::LossCause cause, std::uint32_t events)>;

    ByteReceiver() = default;
    ByteReceiver(std::nullptr_t) {}
    template <typename F, typename = std::enable_if_t<std::is_invocable_v<F&, std::span<const std::uint8_t>> &&
                                                      !std::is_same_v<std::decay_t<F>, ByteReceiver>>>
    ByteReceiver(F bytes) : bytes_(std::move(bytes)) {}
    ByteReceiver(Bytes bytes, Losses losses) : bytes_(std::move(bytes)), losses_(std::move(losses)) {}

    void operator()(std::span<const std::uint8_t> bytes) const {
        if (bytes_) bytes_(bytes);
    }
    void Lost(sysex::LossCause cause, std::uint32_t events) const {
        if (losses_) losses_(cause, events);
    }
    explicit operator bool() const { return static_cast<bool>(bytes_); }

private:
    Bytes bytes_;
    Losses losses_;
};

class InputPort {
public:
    // Destroying a port stops collecting: once the destructor has returned the receiver is not
    // called again and the device is closed.
    virtual ~InputPort() = default;
};

struct InputOpenResult {
    int code = 0;                      // 0 when the port is open; otherwise the platform's error
    std::string error;                 // why the open failed (UTF-8); empty on success
    std::unique_ptr<InputPort> port;   // set exactly when code == 0
};

class InputService {
public:
    virtual ~InputService() = default;

    // The number of input devices as the platform reports it.
    virtual std::size_t CountDevices() = 0;

    // The device's name as the platform gives it (UTF-8). Throws kelvane::Failure when the name
    // cannot be read, e.g. for a device number out of range.
    virtual std::string DeviceName(std::size_t device) = 0;

    // Opens the device and starts handing its bytes to `receiver`. Never throws: a device out of
    // range, gone or busy gives a non-zero code.
    virtual InputOpenResult Open(std::size_t device, ByteReceiver receiver) = 0;

    // Why the last CountDevices may have missed sources: the failure of a sound server that did
    // not answer in time (UTF-8). Empty when the list is complete as far as anyone can tell.
    virtual std::string UnansweredText() const { return {}; }
};

// The platform's own service: on Linux the ALSA sequencer's sources, then JACK's.
std::unique_ptr<InputService> MakePlatformInputService();

}  // namespace midi
