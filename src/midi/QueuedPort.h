#pragma once
// The part every backend's port shares: a queue of copied messages and one thread that hands
// them, one after another, to the backend's MessageSink.
//
// The caller's thread only copies and enqueues, so Send returns at once whatever the device
// does. The port's thread owns the sink from the moment the port is made. Destroying the port
// only tells that thread to finish: it delivers what is queued, drains the sink, destroys it
// (closing the device) and ends on its own, so closing never cuts a message and never waits.
//
// Ports of the same device take turns: a port's thread sends nothing until the thread of the
// device's previous port has ended. Closing a port and opening the same device again (choosing
// the same entry twice) therefore never interleaves the new port's messages with the old
// port's long ones still going out.

#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "common/Failure.h"
#include "midi/OutputService.h"

namespace midi {

// What a sink throws when its device has gone for good (a receiver or a server that went away):
// no message queued behind can ever arrive either, so the port fails all of them at once rather
// than keep a closed port's successor waiting while each one times out.
class DeviceGone : public kelvane::Failure {
public:
    using kelvane::Failure::Failure;
};

// The device-facing half of a port. Every call comes from the port's own thread.
class MessageSink {
public:
    virtual ~MessageSink() = default;

    // Passes one whole message on to the device. Throws kelvane::Failure when the device
    // refuses it; the port then counts the message as failed and goes on. Throws DeviceGone
    // when the device has gone.
    virtual void Deliver(std::span<const std::uint8_t> message) = 0;

    // The same, for a sink that keeps the spacing of hand-overs (a sound server that places
    // bytes at frames): `handedOver` is when the caller handed the message to the port, which
    // may be a while before this call when the port was busy.
    virtual void DeliverHandedAt(std::span<const std::uint8_t> message,
                                 std::chrono::steady_clock::time_point handedOver) {
        (void)handedOver;
        Deliver(message);
    }

    // Waits until the device holds every byte delivered so far (for sinks that buffer), or stops
    // waiting as soon as `moreWaiting()` says another message waits to be delivered: a sink that
    // keeps the spacing of hand-overs must get it without delay. `pending` messages were
    // delivered and not yet confirmed; returns how many of them, oldest first, the device now
    // holds. Throws kelvane::Failure (or DeviceGone) when buffered bytes can no longer reach
    // the device.
    virtual std::uint64_t Drain(const std::function<bool()>& moreWaiting, std::uint64_t pending) {
        (void)moreWaiting;
        return pending;
    }

    // The messages (numbered from 0 in the order delivered) found since the last call to have
    // gone out while the sink missed cycles of its sound server (PortStatus::inDoubt). Asked
    // after each Drain; the doubts about what Drain confirmed are known by then.
    virtual std::vector<std::uint64_t> TakeDoubts() { return {}; }

    // As OutputPort::LeadsToCable; asked once, on the thread that makes the port.
    virtual bool LeadsToCable() const { return true; }
};

// For a backend that closes a device (or a client) on a thread of its own, so that
// WaitForClosedPorts waits for that as well: BackgroundCloseStarted before the thread starts,
// BackgroundCloseEnded when it is done (or could not start).
void BackgroundCloseStarted();
void BackgroundCloseEnded();

class QueuedPort final : public OutputPort {
public:
    // `device` names the device for taking turns, e.g. "alsa 20:0"; the same text means the same
    // device.
    QueuedPort(std::string device, std::unique_ptr<MessageSink> sink);
    ~QueuedPort() override;

    QueuedPort(const QueuedPort&) = delete;
    QueuedPort& operator=(const QueuedPort&) = delete;

    void Send(std::span<const std::uint8_t> message) override;
    bool WaitUntilSent(std::chrono::milliseconds timeout) override;
    PortStatus Status() const override;
    bool LeadsToCable() const override { return leadsToCable_; }

    struct State;  // shared by the port and its thread; the last of the two frees it

private:
    std::shared_ptr<State> state_;
    bool leadsToCable_ = true;
};

}  // namespace midi
