#pragma once
// Stand-in WinMM drivers behind the backends' seams (WinMmApi, WinMmInApi), for the tests of the
// WinMM backend and of the commands over it: under Wine there is no MIDI device.
//
// FakeDriver (output) takes blocks and finishes them only when the test says so, logging every
// call as a line of text. It reads a block's bytes when it finishes it, as a device would while
// transmitting, so a block released too early shows up as wrong bytes.
//
// FakeInDriver (input) fills the queued buffers with what a device sends, hands each back
// through the callback as WinMM does, and delivers short messages one by one. It waits for a
// buffer when it has none, and counts how often it had to.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Messages.h"
#include "midi/winmm/WinMmInput.h"
#include "midi/winmm/WinMmOutput.h"

namespace wintest {

using namespace std::chrono_literals;

inline std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += digits;
    }
    return text;
}

class FakeDriver final : public midi::WinMmApi {
public:
    static inline const HMIDIOUT Handle = reinterpret_cast<HMIDIOUT>(0x1234);

    struct Device {
        std::string name;  // up to 32 bytes, copied into szPname without a NUL when it fills it
        MMRESULT capsResult = MMSYSERR_NOERROR;
        MMRESULT openResult = MMSYSERR_NOERROR;
        bool oneClientOnly = false;  // like most hardware drivers: a second open gets ALLOCATED
        int openNow = 0;
    };

    std::vector<Device> devices;
    bool finishAtOnce = true;      // LongMsg marks the block done before it returns
    bool ignoresReset = false;     // midiOutReset hands nothing back
    MMRESULT longMsgResult = MMSYSERR_NOERROR;

    UINT GetNumDevs() override {
        Log("midiOutGetNumDevs");
        return static_cast<UINT>(devices.size());
    }
    MMRESULT GetDevCaps(UINT_PTR device, MIDIOUTCAPSA* caps, UINT capsBytes) override {
        Log("midiOutGetDevCapsA " + std::to_string(device) + " " + std::to_string(capsBytes));
        if (device >= devices.size()) return MMSYSERR_BADDEVICEID;
        if (devices[device].capsResult != MMSYSERR_NOERROR) return devices[device].capsResult;
        std::memset(caps, 0, sizeof *caps);
        const auto& name = devices[device].name;
        std::memcpy(caps->szPname, name.data(), std::min(name.size(), sizeof caps->szPname));
        return MMSYSERR_NOERROR;
    }
    MMRESULT Open(HMIDIOUT* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override {
        Log("midiOutOpen " + std::to_string(device) + " " + std::to_string(callback) + " " +
            std::to_string(instance) + " " + std::to_string(flags));
        if (device >= devices.size()) return MMSYSERR_BADDEVICEID;
        if (devices[device].openResult != MMSYSERR_NOERROR) return devices[device].openResult;
        std::lock_guard lock(mutex_);
        if (devices[device].oneClientOnly && devices[device].openNow > 0) return MMSYSERR_ALLOCATED;
        ++devices[device].openNow;
        *handle = reinterpret_cast<HMIDIOUT>(reinterpret_cast<std::uintptr_t>(Handle) + device);
        return MMSYSERR_NOERROR;
    }
    MMRESULT Close(HMIDIOUT handle) override {
        std::lock_guard lock(mutex_);
        LogLocked("midiOutClose" + HandleText(handle));
        if (!pending_.empty()) return MIDIERR_STILLPLAYING;
        const std::uintptr_t device = reinterpret_cast<std::uintptr_t>(handle) - reinterpret_cast<std::uintptr_t>(Handle);
        if (device < devices.size()) --devices[device].openNow;
        return MMSYSERR_NOERROR;
    }
    MMRESULT Reset(HMIDIOUT handle) override {
        std::lock_guard lock(mutex_);
        LogLocked("midiOutReset" + HandleText(handle));
        if (!ignoresReset) {
            for (MIDIHDR* header : pending_) MarkDone(header, "returned");
            pending_.clear();
        }
        return MMSYSERR_NOERROR;
    }
    MMRESULT PrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerBytes) override {
        std::lock_guard lock(mutex_);
        LogLocked("midiOutPrepareHeader" + HandleText(handle) + " " + std::to_string(header->dwBufferLength) +
                  " flags " + std::to_string(header->dwFlags) + " size " + std::to_string(headerBytes));
        header->dwFlags |= MHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT LongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerBytes) override {
        std::lock_guard lock(mutex_);
        LogLocked("midiOutLongMsg" + HandleText(handle) + " size " + std::to_string(headerBytes));
        if (longMsgResult != MMSYSERR_NOERROR) return longMsgResult;
        std::atomic_ref<DWORD>(header->dwFlags).fetch_or(MHDR_INQUEUE, std::memory_order_relaxed);
        if (finishAtOnce) {
            MarkDone(header, "sent");
        } else {
            pending_.push_back(header);
            changed_.notify_all();
        }
        return MMSYSERR_NOERROR;
    }
    MMRESULT UnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerBytes) override {
        std::lock_guard lock(mutex_);
        // Like WinMM: a block the driver has taken and not finished cannot be unprepared.
        const bool playing = (header->dwFlags & MHDR_INQUEUE) != 0;
        LogLocked("midiOutUnprepareHeader" + HandleText(handle) + " size " + std::to_string(headerBytes) +
                  (playing ? " while playing" : ""));
        if (playing) return MIDIERR_STILLPLAYING;
        header->dwFlags &= ~static_cast<DWORD>(MHDR_PREPARED);
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetErrorText(MMRESULT result, char* text, UINT textBytes) override {
        std::snprintf(text, textBytes, "error %u", result);
        return MMSYSERR_NOERROR;
    }

    // Waits until the driver holds `count` unfinished blocks.
    bool WaitForPending(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return pending_.size() == count; });
    }
    // Finishes the oldest block the driver holds, reading its bytes as it goes.
    void FinishOne() {
        std::lock_guard lock(mutex_);
        ASSERT_FALSE(pending_.empty());
        MarkDone(pending_.front(), "sent");
        pending_.erase(pending_.begin());
    }
    // The bytes of the block still held, read now.
    std::string PendingBytes() {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return "(none)";
        return Hex(reinterpret_cast<const std::uint8_t*>(pending_.front()->lpData), pending_.front()->dwBufferLength);
    }
    std::vector<std::string> TakeLog() {
        std::lock_guard lock(mutex_);
        return std::exchange(log_, {});
    }
    // Waits (a few seconds at most) until the log holds `count` lines, for calls that the
    // port's thread makes after the test has let go of the port.
    std::vector<std::string> WaitForLog(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 5s, [&] { return log_.size() >= count; });
        return std::exchange(log_, {});
    }

private:
    // Device d's handle is Handle + d; device 0's is Handle itself, which the logs take as read.
    std::string HandleText(HMIDIOUT handle) const {
        const auto offset = reinterpret_cast<std::uintptr_t>(handle) - reinterpret_cast<std::uintptr_t>(Handle);
        if (offset == 0) return "";
        return offset < devices.size() ? " (device " + std::to_string(offset) + ")" : " (unknown handle)";
    }
    void Log(const std::string& line) {
        std::lock_guard lock(mutex_);
        LogLocked(line);
    }
    void LogLocked(const std::string& line) {
        log_.push_back(line);
        changed_.notify_all();
    }
    void MarkDone(MIDIHDR* header, const char* how) {
        LogLocked(std::string(how) + ": " +
                       Hex(reinterpret_cast<const std::uint8_t*>(header->lpData), header->dwBufferLength));
        // The port's thread watches the flags from its side, as with a real driver.
        std::atomic_ref<DWORD> flags(header->dwFlags);
        flags.fetch_and(~static_cast<DWORD>(MHDR_INQUEUE), std::memory_order_relaxed);
        flags.fetch_or(MHDR_DONE, std::memory_order_release);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<MIDIHDR*> pending_;
    std::vector<std::string> log_;
};

using testsupport::Bytes;

class FakeInDriver final : public midi::WinMmInApi {
public:
    static inline const HMIDIIN Handle = reinterpret_cast<HMIDIIN>(0x4321);

    std::vector<std::string> names{"Keys"};
    MMRESULT openResult = MMSYSERR_NOERROR;

    // What a device sends: long bytes go into buffers (a buffer is handed back when it is full
    // or the item ends, as drivers do at an F7); a short item is one MIM_DATA.
    struct Item {
        Bytes bytes;
        bool isShort = false;
    };

    void Play(const std::vector<Item>& items) {
        for (const Item& item : items) {
            if (item.isShort) {
                DWORD packed = 0;
                for (std::size_t i = 0; i < item.bytes.size(); ++i) packed |= DWORD{item.bytes[i]} << (8 * i);
                callback_(Handle, MIM_DATA, instance_, packed, 0);
                continue;
            }
            std::size_t at = 0;
            while (at < item.bytes.size()) {
                MIDIHDR* header = TakeBuffer();
                ASSERT_NE(header, nullptr) << "no buffer came back within the bound";
                const std::size_t count = std::min<std::size_t>(header->dwBufferLength, item.bytes.size() - at);
                std::memcpy(header->lpData, item.bytes.data() + at, count);
                header->dwBytesRecorded = static_cast<DWORD>(count);
                at += count;
                header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
                callback_(Handle, MIM_LONGDATA, instance_, reinterpret_cast<DWORD_PTR>(header), 0);
            }
        }
    }

    std::vector<std::string> Log() {
        std::lock_guard lock(mutex_);
        return log_;
    }
    int adds = 0;  // guarded by mutex_

    UINT GetNumDevs() override { return static_cast<UINT>(names.size()); }
    MMRESULT GetDevCaps(UINT_PTR device, MIDIINCAPSA* caps, UINT) override {
        if (device >= names.size()) return MMSYSERR_BADDEVICEID;
        std::memset(caps, 0, sizeof *caps);
        std::memcpy(caps->szPname, names[device].data(), std::min(names[device].size(), sizeof caps->szPname));
        return MMSYSERR_NOERROR;
    }
    MMRESULT Open(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override {
        Note("midiInOpen " + std::to_string(device) + " flags " + std::to_string(flags));
        if (device >= names.size()) return MMSYSERR_BADDEVICEID;
        if (openResult != MMSYSERR_NOERROR) return openResult;
        callback_ = reinterpret_cast<decltype(callback_)>(callback);
        instance_ = instance;
        *handle = Handle;
        return MMSYSERR_NOERROR;
    }
    MMRESULT Close(HMIDIIN) override {
        Note("midiInClose");
        return MMSYSERR_NOERROR;
    }
    MMRESULT Start(HMIDIIN) override {
        Note("midiInStart");
        return MMSYSERR_NOERROR;
    }
    MMRESULT Stop(HMIDIIN) override {
        Note("midiInStop");
        return MMSYSERR_NOERROR;
    }
    MMRESULT Reset(HMIDIIN) override {
        std::deque<MIDIHDR*> back;
        {
            std::lock_guard lock(mutex_);
            log_.push_back("midiInReset");
            back.swap(queue_);
        }
        for (MIDIHDR* header : back) {
            header->dwBytesRecorded = 0;
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            callback_(Handle, MIM_LONGDATA, instance_, reinterpret_cast<DWORD_PTR>(header), 0);
        }
        return MMSYSERR_NOERROR;
    }
    MMRESULT PrepareHeader(HMIDIIN, MIDIHDR* header, UINT) override {
        header->dwFlags |= MHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT UnprepareHeader(HMIDIIN, MIDIHDR* header, UINT) override {
        std::lock_guard lock(mutex_);
        if (std::find(queue_.begin(), queue_.end(), header) != queue_.end()) {
            log_.push_back("midiInUnprepareHeader of a queued buffer");
            return MIDIERR_STILLPLAYING;
        }
        ++unprepared_;
        if (unprepared_ == midi::InputBufferCount) log_.push_back("all buffers unprepared");
        return MMSYSERR_NOERROR;
    }
    MMRESULT AddBuffer(HMIDIIN, MIDIHDR* header, UINT) override {
        std::lock_guard lock(mutex_);
        ++adds;
        header->dwFlags |= MHDR_INQUEUE;
        queue_.push_back(header);
        changed_.notify_all();
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetErrorText(MMRESULT, char* text, UINT textBytes) override {
        std::snprintf(text, textBytes, "stand-in error");
        return MMSYSERR_NOERROR;
    }

private:
    void Note(const std::string& line) {
        std::lock_guard lock(mutex_);
        log_.push_back(line);
    }
    MIDIHDR* TakeBuffer() {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, 30s, [&] { return !queue_.empty(); })) return nullptr;
        MIDIHDR* header = queue_.front();
        queue_.pop_front();
        return header;
    }

    void(CALLBACK* callback_)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) = nullptr;
    DWORD_PTR instance_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<MIDIHDR*> queue_;
    std::size_t unprepared_ = 0;
    std::vector<std::string> log_;
};

}  // namespace wintest
