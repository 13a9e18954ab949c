#include "midi/winmm/WinMmOutput.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "common/WideText.h"
#include "midi/BackendFailure.h"
#include "midi/ListedOutputService.h"
#include "midi/QueuedPort.h"
#include "midi/WireTime.h"

namespace midi {

namespace {

// The capability record is 52 bytes on every Windows; its name field is 32 characters that
// need not end in a NUL.
static_assert(sizeof(MIDIOUTCAPSA) == 52);
constexpr std::size_t NameBytes = sizeof(MIDIOUTCAPSA::szPname);

// CALLBACK_NULL gives no signal when a block is done, so the port's thread looks at the flag.
constexpr auto PollInterval = std::chrono::milliseconds(1);
// How long choosing a device again waits for its previous port to let it go.
constexpr auto ReopenWait = std::chrono::seconds(2);

std::string ErrorText(WinMmApi& api, MMRESULT result) {
    char text[MAXERRORLENGTH] = {};
    if (api.GetErrorText(result, text, sizeof text) != MMSYSERR_NOERROR) return {};
    return kelvane::Utf8FromCodePage(std::string_view(text, strnlen(text, sizeof text)), CP_ACP);
}

void Check(WinMmApi& api, MMRESULT result, const char* operation) {
    if (result != MMSYSERR_NOERROR) {
        throw BackendFailure("WinMM", operation, ErrorText(api, result), static_cast<int>(result));
    }
}

// One long message: the header and the bytes it points at, which must stay put while the
// driver may read them.
struct Block {
    MIDIHDR header{};
    std::vector<std::uint8_t> data;
};

// The driver sets MHDR_DONE from its own thread.
bool IsDone(MIDIHDR& header) {
    return (std::atomic_ref<DWORD>(header.dwFlags).load(std::memory_order_acquire) & MHDR_DONE) != 0;
}

bool WaitForDone(MIDIHDR& header, std::chrono::steady_clock::duration limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!IsDone(header)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(PollInterval);
    }
    return true;
}

class WinMmSink final : public MessageSink {
public:
    WinMmSink(std::shared_ptr<WinMmApi> api, HMIDIOUT handle, WinMmTimings timings)
        : api_(std::move(api)), handle_(handle), timings_(timings) {}

    ~WinMmSink() override {
        // Only a block abandoned by a driver that never finished can still be playing.
        if (api_->Close(handle_) == MIDIERR_STILLPLAYING) {
            api_->Reset(handle_);
            api_->Close(handle_);
        }
    }

    WinMmSink(const WinMmSink&) = delete;
    WinMmSink& operator=(const WinMmSink&) = delete;

    void Deliver(std::span<const std::uint8_t> message) override {
        auto block = std::make_unique<Block>();
        block->data.assign(message.begin(), message.end());
        MIDIHDR& header = block->header;
        header.lpData = reinterpret_cast<LPSTR>(block->data.data());
        header.dwBufferLength = static_cast<DWORD>(block->data.size());
        header.dwFlags = 0;

        // The size passed is this process's MIDIHDR: 64 bytes in a 32-bit process, 112 in a
        // 64-bit one. A fixed 64 would understate the 64-bit record.
        Check(*api_, api_->PrepareHeader(handle_, &header, sizeof header), "midiOutPrepareHeader");
        if (const MMRESULT sent = api_->LongMsg(handle_, &header, sizeof header); sent != MMSYSERR_NOERROR) {
            // The driver never took the block, so it is ours again.
            api_->UnprepareHeader(handle_, &header, sizeof header);
            Check(*api_, sent, "midiOutLongMsg");
        }

        const auto limit = 2 * WireTime(message.size()) + timings_.doneMargin;
        const bool finished = WaitForDone(header, limit);
        if (!finished) {
            api_->Reset(handle_);
            if (!WaitForDone(header, timings_.resetGrace)) {
                // The driver may still read the block: it stays allocated for good.
                block.release();
                throw BackendFailure("WinMM", "midiOutReset", "デバイスが送信バッファを返しません",
                                     MIDIERR_STILLPLAYING);
            }
        }
        Check(*api_, api_->UnprepareHeader(handle_, &header, sizeof header), "midiOutUnprepareHeader");
        if (!finished) {
            throw BackendFailure("WinMM", "midiOutLongMsg", "時間内に送信が終わらないため中断しました",
                                 MIDIERR_STILLPLAYING);
        }
    }

private:
    std::shared_ptr<WinMmApi> api_;
    HMIDIOUT handle_;
    WinMmTimings timings_;
};

class WinMmOutputService final : public ListedOutputService<UINT> {
public:
    WinMmOutputService(std::shared_ptr<WinMmApi> api, WinMmTimings timings)
        : ListedOutputService("WinMM"), api_(std::move(api)), timings_(timings) {}

private:
    // WinMM numbers its devices from 0 itself, so the listing is just their count; a name is
    // read when it is asked for.
    std::vector<UINT> List() override {
        std::vector<UINT> devices(api_->GetNumDevs());
        for (std::size_t i = 0; i < devices.size(); ++i) devices[i] = static_cast<UINT>(i);
        return devices;
    }

    std::string NameOf(const UINT& device) const override {
        MIDIOUTCAPSA caps{};
        Check(*api_, api_->GetDevCaps(device, &caps, sizeof caps), "midiOutGetDevCapsA");
        return kelvane::Utf8FromCodePage(std::string_view(caps.szPname, strnlen(caps.szPname, NameBytes)), CP_ACP);
    }

    std::unique_ptr<OutputPort> OpenPort(const UINT& device) override {
        HMIDIOUT handle = nullptr;
        auto open = [&] { return api_->Open(&handle, device, 0, 0, CALLBACK_NULL); };
        MMRESULT result = open();
        // Most drivers take one client per device, and a port just closed lets its device go only
        // once its thread has delivered what it was given. Choosing the same entry again must
        // still open, so wait a little for closed ports, never for ports still in use.
        if (result == MMSYSERR_ALLOCATED && !WaitForClosedPorts(std::chrono::milliseconds(0))) {
            WaitForClosedPorts(ReopenWait);
            result = open();
        }
        Check(*api_, result, "midiOutOpen");
        return std::make_unique<QueuedPort>("winmm " + std::to_string(device),
                                            std::make_unique<WinMmSink>(api_, handle, timings_));
    }

    std::shared_ptr<WinMmApi> api_;
    WinMmTimings timings_;
};

class SystemApi final : public WinMmApi {
public:
    UINT GetNumDevs() override { return ::midiOutGetNumDevs(); }
    MMRESULT GetDevCaps(UINT_PTR device, MIDIOUTCAPSA* caps, UINT capsBytes) override {
        return ::midiOutGetDevCapsA(device, caps, capsBytes);
    }
    MMRESULT Open(HMIDIOUT* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override {
        return ::midiOutOpen(handle, device, callback, instance, flags);
    }
    MMRESULT Close(HMIDIOUT handle) override { return ::midiOutClose(handle); }
    MMRESULT Reset(HMIDIOUT handle) override { return ::midiOutReset(handle); }
    MMRESULT PrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerBytes) override {
        return ::midiOutPrepareHeader(handle, header, headerBytes);
    }
    MMRESULT LongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerBytes) override {
        return ::midiOutLongMsg(handle, header, headerBytes);
    }
    MMRESULT UnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerBytes) override {
        return ::midiOutUnprepareHeader(handle, header, headerBytes);
    }
    MMRESULT GetErrorText(MMRESULT result, char* text, UINT textBytes) override {
        return ::midiOutGetErrorTextA(result, text, textBytes);
    }
};

}  // namespace

std::shared_ptr<WinMmApi> SystemWinMmApi() { return std::make_shared<SystemApi>(); }

std::unique_ptr<OutputService> MakeWinMmOutputService(std::shared_ptr<WinMmApi> api, WinMmTimings timings) {
    return std::make_unique<WinMmOutputService>(std::move(api), timings);
}

}  // namespace midi
