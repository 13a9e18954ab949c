#pragma once
// The program's one MIDI output port and the port selector's entries.
//
// Port index: entry 0 of the selector is "(None)" (no port); entry k >= 1 is output device
// k - 1 of the installed service. The window's handlers are thin wrappers around these calls;
// all of them run on the window's thread, and none waits for a device.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "midi/OutputService.h"

namespace midi {

// Devices listed, taken once when the entries are read. At most 255 so that every port index
// fits the one-byte setting.
extern std::uint8_t DeviceCount;
// Port index of the current selection; 0 means no port. May lie beyond the list when the
// remembered index names a device that has gone.
extern std::int32_t OutDeviceIndex;
// The open port; empty when none is open.
extern std::unique_ptr<OutputPort> MidiOutHandle;

// GM System On: universal non-real-time, all devices (7F), General MIDI 1 on.
inline constexpr std::array<std::uint8_t, 6> GMSystemOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

inline constexpr std::size_t MaxListedDevices = 255;
inline constexpr std::size_t MaxEntryChars = 32;
inline constexpr std::string_view NoPortEntry = "(None)";

// Replaces the service the port uses; the platform's own one is made on first use otherwise.
// Closes the open port first, since it came from the old service.
void InstallOutputService(std::unique_ptr<OutputService> service);
OutputService& CurrentOutputService();

// How many of `reported` devices are listed: all of them up to 255, else the first 255.
std::uint8_t ListedDeviceCount(std::size_t reported);

// How much of a device's name an entry holds: what the window's selector shows, or all of it
// (the command line, where a script tells ports apart by their whole names).
enum class EntryWidth { Selector, Whole };

// A device name as its entry shows it: up to the first NUL; for the selector at most 32
// characters (UTF-8 code points, so a name is never cut inside a character; a byte that starts
// no character counts as one, as it shows as one replacement character).
std::string EntryText(std::string_view name, EntryWidth width = EntryWidth::Selector);

// The entry of a device whose name cannot be read, so that entry k still stands for device k - 1.
std::string UnreadableEntryText(std::size_t device);

// The selector's entries: "(None)", then one per listed device in device order. Sets
// DeviceCount. Never throws for a device's name. Collects the listing StartReadingPortEntries
// began, when there is one; lists afresh otherwise.
std::vector<std::string> ReadPortEntries(EntryWidth width = EntryWidth::Selector);

// After ReadPortEntries: why the list may lack devices (a sound server that did not answer), as
// OutputService::UnansweredText gives it; empty when it is complete.
std::string PortListingGap();

// Start-up: begins listing the devices of the current service on a thread of its own, so that
// the window can be built meanwhile; the next ReadPortEntries waits for it and returns its
// entries. That thread makes the platform's service when none is installed, so until then
// nothing else may use or install one. Does nothing when a listing is under way.
void StartReadingPortEntries();

// Closes the open port, then opens device p - 1 when p >= 1. Returns 0 when the port is open or
// p is 0, otherwise the service's non-zero code (also for p beyond the list or below 0).
int OpenPortIndex(std::int32_t p);

// Why the last OpenPortIndex failed (UTF-8, Japanese); empty after one that succeeded.
std::string OpenPortError();

// Start-up: OutDeviceIndex := the remembered entry (the remembered index, or where the
// remembered name now stands; -1 when that name has gone), then opens it; returns the outcome.
// The window then selects entry OutDeviceIndex (none when there is no such entry) and ticks
// "MIDI OUT" exactly when the outcome is 0, leaving its enabled state alone.
int StartPort(std::int32_t rememberedEntry);

// A choice in the selector: OutDeviceIndex := the chosen entry, then opens it; returns the
// outcome. The window then ticks and enables "MIDI OUT" exactly when the outcome is 0, sends
// GMSystemOn through ExcOut, and saves the low 8 bits of OutDeviceIndex.
int ChangePort(std::int32_t chosenEntry);

// Hands bytes 0 to lastIndex over to the open port, which sends them in the background.
// Does nothing when no port is open or lastIndex < 0. Never reports a failure.
void SendOnOpenPort(const std::uint8_t* bytes, std::int32_t lastIndex);

// Sends one message on entry p of the list read last, whatever "MIDI OUT" says: on the open
// port when p is the open one, otherwise on a port opened for it alone, which closes once the
// message is out. Returns the open's outcome (0: handed over), with its reason in `error`.
int SendOnEntry(std::int32_t p, std::span<const std::uint8_t> message, std::string& error);

// Back to the state at process start: no port, no service installed, counters zero. Tests only.
void ResetPortStateForTests();

}  // namespace midi
