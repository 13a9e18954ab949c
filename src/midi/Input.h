#pragma once
// The input port selector's entries and opening the chosen one, the receiving side of Port.h.
//
// Input index: entry 0 is "(None)" (no port); entry k >= 1 is input device k - 1 of the
// installed service, as listed by the last ReadInputEntries(). The remembered choice is the
// one-byte settings::InPortSetting. Window's (or command line's) thread only; nothing here
// waits for a device.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/InputService.h"
#include "midi/Port.h"
#include "sysex/Reception.h"

namespace midi {

// Replaces the service receiving uses; the platform's own one is made on first use otherwise.
void InstallInputService(std::unique_ptr<InputService> service);
InputService& CurrentInputService();

// "(None)", then one entry per listed source in device order, named as the output selector
// names its devices (at most 255, at most 32 characters each). Never throws for a name.
std::vector<std::string> ReadInputEntries(EntryWidth width = EntryWidth::Selector);

// After ReadInputEntries: why the list may lack sources (a sound server that did not answer);
// empty when it is complete.
std::string InputListingGap();

// Opens entry p of the list read last, handing its bytes to `receiver` on the port's thread.
// Entry 0, or one beyond the list, gives NoSuchDevice and no port.
InputOpenResult OpenInputEntry(std::int32_t p, ByteReceiver receiver);

// A receiver that hands bytes and losses to `reception`, which must outlive the port.
ByteReceiver ReceiverFor(sysex::Reception& reception);

// Back to the state at process start: no service installed, nothing listed. Tests only.
void ResetInputStateForTests();

}  // namespace midi
