#pragma once
// The seam between the port logic and the platform's MIDI output.
//
// A service lists the output devices the platform offers and opens one of them as an
// OutputPort. Device numbers run from 0 to CountDevices() - 1 in the order of the last
// CountDevices() call; DeviceName and Open refer to that list.
//
// Threading: a service and its ports are used from one thread at a time (the caller's, usually the
// window's). Each open port owns a thread of its own that does the actual sending, so no call
// here waits for a device; listing and opening wait for the platform at most a bounded time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace midi {

// What a port has done with the messages handed to it so far. A message counts as failed when
// the device refused it or went away before all its bytes were out; it is never retried.
struct PortStatus {
    std::uint64_t handedOver = 0;
    std::uint64_t sent = 0;
    std::uint64_t failed = 0;
    std::string lastError;  // UTF-8, in the UI's language; empty while nothing has failed
    // Messages (numbered from 0 in the order handed over, over the port's life) that went out
    // while the port missed cycles of its sound server: counted as sent, yet they may not have
    // arrived, or not whole. Only backends that can tell (JACK) fill it.
    std::vector<std::uint64_t> inDoubt;
};

class OutputPort {
public:
    virtual ~OutputPort() = default;

    // Hands over one complete System Exclusive message (F0 ... F7). The bytes are copied and the
    // call returns at once; the port's thread sends them after every message handed over
    // earlier, whole, never interleaved with another. Never throws for a device fault: those
    // show in Status().
    virtual void Send(std::span<const std::uint8_t> message) = 0;

    // Waits until every message handed over has been sent or has failed, or the timeout has
    // passed; true when nothing is pending any more. For front ends that are about to exit
    // (the command line) and for tests; the window never calls it.
    virtual bool WaitUntilSent(std::chrono::milliseconds timeout) = 0;

    virtual PortStatus Status() const = 0;

    // Whether the bytes end on a MIDI cable (or a device that reads them as from one), which
    // needs the pace inside a long message, rather than in a program that reads each message
    // handed over as one (a JACK client's port). Fixed while the port is open.
    virtual bool LeadsToCable() const { return true; }

    // Destroying a port returns at once. Messages already handed over are still delivered
    // whole by the port's thread, which then closes the device and ends.
};

// The code Open gives for a device number beyond the list (WinMM's MMSYSERR_BADDEVICEID).
inline constexpr int NoSuchDevice = 2;

struct OpenResult {
    int code = 0;                       // 0 when the port is open; otherwise the platform's error
    std::string error;                  // why the open failed (UTF-8); empty on success
    std::unique_ptr<OutputPort> port;   // set exactly when code == 0
};

class OutputService {
public:
    virtual ~OutputService() = default;

    // The number of output devices as the platform reports it (it may exceed 255).
    virtual std::size_t CountDevices() = 0;

    // The device's name as the platform gives it (UTF-8, possibly with trailing NULs). Throws
    // kelvane::Failure when the name cannot be read, e.g. for a device number out of range.
    virtual std::string DeviceName(std::size_t device) = 0;

    // Opens the device for output. Never throws: a device out of range, gone or busy gives a
    // non-zero code.
    virtual OpenResult Open(std::size_t device) = 0;

    // Why the last CountDevices may have missed devices: the failure of a sound server that did
    // not answer in time (UTF-8). Empty when the list is complete as far as anyone can tell.
    virtual std::string UnansweredText() const { return {}; }
};

// Waits until the thread of every destroyed port has delivered what it was given, closed its
// device and ended, or the timeout has passed; true when none is left. For a front end about to
// exit, so that devices are closed properly, and for tests. Ports still alive are not waited for.
bool WaitForClosedPorts(std::chrono::milliseconds timeout);

// A backend that waits for a platform call that may not answer (a suspended sound server) waits
// within a bound, and meanwhile calls the callback set here every few milliseconds on the waiting
// thread, so that a window can repaint. The callback must not use the MIDI output, and must
// itself check which thread it runs on. May be set and called from any thread; empty by default.
void SetWhileWaiting(std::function<void()> callback);
void WhileWaiting();

// Closing a sound server's listing client takes the server's time and ours. A window that wants
// its first paint sooner holds such closes from before StartReadingPortEntries until it has
// painted, and releases them before it waits for closing ports at exit. A held close waits at
// most ListingCloseHoldLimit. Nothing holds them by default (the command line never does).
// Where no sound server has listing clients (Windows), they do nothing.
inline constexpr std::chrono::milliseconds ListingCloseHoldLimit{2000};
void HoldListingCloses();
void ReleaseListingCloses();

// The platform's own service: on Linux the ALSA sequencer's devices, then JACK's.
std::unique_ptr<OutputService> MakePlatformOutputService();

}  // namespace midi
