// The WinMM input. Under Wine there is no MIDI device, so a stand-in driver behind WinMmInApi
// plays one: it fills the queued buffers with what a device sends, hands each back through the
// callback as WinMM does, and delivers short messages one by one. It waits for a buffer when it
// has none, and counts how often it had to.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Messages.h"
#include "midi/winmm/WinMmInput.h"

namespace {

using testsupport::Bytes;
using namespace std::chrono_literals;

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

struct Collected {
    std::mutex mutex;
    Bytes bytes;
};

TEST(WinMmInput, BuffersAreQueuedAgainSoALongBurstArrivesWholeAndInOrder) {
    auto driver = std::make_shared<FakeInDriver>();
    auto service = midi::MakeWinMmInputService(driver);
    ASSERT_EQ(service->CountDevices(), 1u);
    EXPECT_EQ(service->DeviceName(0), "Keys");
    Collected got;
    midi::InputOpenResult opened = service->Open(0, [&](std::span<const std::uint8_t> bytes) {
        std::lock_guard lock(got.mutex);
        got.bytes.insert(got.bytes.end(), bytes.begin(), bytes.end());
    });
    ASSERT_EQ(opened.code, 0) << opened.error;

    // 100 messages back to back, the largest 64 KiB, with a clock byte inside each and a note
    // between some: several times all the buffers there are.
    std::vector<FakeInDriver::Item> items;
    Bytes expected;
    for (std::size_t k = 0; k < 100; ++k) {
        const Bytes m = testsupport::PatternMessage(k == 40 ? 65536 : 6 + (k * 997) % 12000, static_cast<std::uint8_t>(k));
        const auto half = m.begin() + static_cast<long>(m.size() / 2);
        items.push_back({Bytes(m.begin(), half)});
        items.push_back({{0xF8}, true});
        items.push_back({Bytes(half, m.end())});
        expected.insert(expected.end(), m.begin(), half);
        expected.push_back(0xF8);
        expected.insert(expected.end(), half, m.end());
        if (k % 25 == 0) {
            items.push_back({{0x90, 0x3C, 0x40}, true});
            expected.insert(expected.end(), {0x90, 0x3C, 0x40});
        }
    }
    std::thread device([&] { driver->Play(items); });
    device.join();
    opened.port.reset();

    EXPECT_TRUE(got.bytes == expected) << got.bytes.size() << " of " << expected.size() << " bytes";
    EXPECT_GT(driver->adds, static_cast<int>(midi::InputBufferCount) * 10);
    const std::vector<std::string> log = driver->Log();
    const std::vector<std::string> expectedLog{"midiInOpen 0 flags " + std::to_string(CALLBACK_FUNCTION), "midiInStart",
                                               "midiInStop", "midiInReset",
                                               "all buffers unprepared", "midiInClose"};
    EXPECT_EQ(log, expectedLog);
}

TEST(WinMmInput, RefusedOpensGiveTheCodeAndNoPort) {
    auto driver = std::make_shared<FakeInDriver>();
    driver->openResult = MMSYSERR_ALLOCATED;
    auto service = midi::MakeWinMmInputService(driver);
    service->CountDevices();
    const midi::InputOpenResult busy = service->Open(0, [](std::span<const std::uint8_t>) {});
    EXPECT_EQ(busy.code, MMSYSERR_ALLOCATED);
    EXPECT_FALSE(busy.port);
    EXPECT_NE(busy.error.find("midiInOpen"), std::string::npos) << busy.error;

    // Wine's own WinMM: whatever it lists, one beyond the list does not open.
    auto system = midi::MakeWinMmInputService();
    const std::size_t count = system->CountDevices();
    const midi::InputOpenResult beyond = system->Open(count, [](std::span<const std::uint8_t>) {});
    EXPECT_NE(beyond.code, 0);
    EXPECT_FALSE(beyond.port);
}

}  // namespace
