#pragma once
// Input through the Windows multimedia MIDI API (WinMM). Windows builds only.
//
// Sources are WinMM's MIDI input devices in its own numbering (midiInGetNumDevs), named by the
// szPname of midiInGetDevCapsA, taken from the ANSI code page into UTF-8. An open port is a
// device opened with CALLBACK_FUNCTION and InputBufferCount long-message buffers queued at
// once. The driver's callback only notes which buffer or short message came, under a short
// lock; the port's collecting thread hands the bytes on and queues each buffer again at once,
// so that while it works the driver always holds the others and nothing falls between buffers.
// Short messages (channel, system common, real-time) are passed on as their bytes too, so that
// a status byte inside a message still cuts it off.
//
// Closing stops and resets the device, which hands every buffer back, waits (bounded) until it
// has them all, then unprepares them and closes. A buffer a driver never hands back is never
// freed, since the driver may yet write into it.
//
// The calls go through WinMmInApi so that tests can stand in for a driver, as for the output.

#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <cstddef>
#include <memory>

#include "midi/InputService.h"

namespace midi {

inline constexpr std::size_t InputBufferCount = 16;
inline constexpr std::size_t InputBufferBytes = 16384;

// The WinMM input calls the backend makes, one to one. Implementations must allow calls from
// any thread.
class WinMmInApi {
public:
    virtual ~WinMmInApi() = default;
    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(UINT_PTR device, MIDIINCAPSA* caps, UINT capsBytes) = 0;
    virtual MMRESULT Open(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT Close(HMIDIIN handle) = 0;
    virtual MMRESULT Start(HMIDIIN handle) = 0;
    virtual MMRESULT Stop(HMIDIIN handle) = 0;
    virtual MMRESULT Reset(HMIDIIN handle) = 0;
    virtual MMRESULT PrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerBytes) = 0;
    virtual MMRESULT UnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerBytes) = 0;
    virtual MMRESULT AddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerBytes) = 0;
    virtual MMRESULT GetErrorText(MMRESULT result, char* text, UINT textBytes) = 0;
};

// winmm.dll itself.
std::shared_ptr<WinMmInApi> SystemWinMmInApi();

// The callback midiInOpen is given (CALLBACK_FUNCTION), with the port as its instance. A stand-in
// driver calls it as WinMM would, from a thread of its own.
void CALLBACK WinMmInputCallback(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                 DWORD_PTR param2);

// How long closing waits for the driver to hand the buffers back after midiInReset.
inline constexpr std::chrono::milliseconds InputReturnWait{2000};

std::unique_ptr<InputService> MakeWinMmInputService(std::shared_ptr<WinMmInApi> api = SystemWinMmInApi());

}  // namespace midi
