#pragma once
// Output through the Windows multimedia MIDI API (WinMM). Windows builds only.
//
// Devices are WinMM's MIDI output devices in its own numbering, as many as midiOutGetNumDevs
// gave at the last listing, named by the szPname of midiOutGetDevCapsA, taken from the ANSI
// code page into UTF-8; a number beyond the listing is refused without asking WinMM. An open port is
// a device opened with CALLBACK_NULL; the port's thread sends each message as one long
// message (midiOutPrepareHeader, midiOutLongMsg) and keeps the header and data blocks until
// the driver has marked the header MHDR_DONE; only then does it unprepare and free them.
// The caller's thread never waits: the wait for the driver happens on the port's thread.
//
// A driver that has not finished after twice the message's wire time plus a margin is
// reset (midiOutReset, which hands back every pending block); a block the driver still holds
// after that is never freed, since the driver may yet read it. Either way the message counts
// as failed.
//
// The calls go through WinMmApi so that tests can stand in for a driver: Wine offers no MIDI
// device, and a real device cannot be told to hold on to a block.

#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <memory>

#include "midi/OutputService.h"

namespace midi {

// The WinMM calls the backend makes, one to one. Implementations must allow calls from any
// thread: ports call from their own threads.
class WinMmApi {
public:
    virtual ~WinMmApi() = default;
    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(UINT_PTR device, MIDIOUTCAPSA* caps, UINT capsBytes) = 0;
    virtual MMRESULT Open(HMIDIOUT* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT Close(HMIDIOUT handle) = 0;
    virtual MMRESULT Reset(HMIDIOUT handle) = 0;
    virtual MMRESULT PrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerBytes) = 0;
    virtual MMRESULT LongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerBytes) = 0;
    virtual MMRESULT UnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerBytes) = 0;
    virtual MMRESULT GetErrorText(MMRESULT result, char* text, UINT textBytes) = 0;
};

// winmm.dll itself.
std::shared_ptr<WinMmApi> SystemWinMmApi();

// How long a port waits for a driver. The defaults suit real devices; tests shorten them.
struct WinMmTimings {
    // Beyond twice the wire time (3,125 bytes a second) before the driver is reset.
    std::chrono::milliseconds doneMargin{5000};
    // After midiOutReset, before the block is given up for good.
    std::chrono::milliseconds resetGrace{1000};
};

std::unique_ptr<OutputService> MakeWinMmOutputService(std::shared_ptr<WinMmApi> api = SystemWinMmApi(),
                                                      WinMmTimings timings = {});

}  // namespace midi
