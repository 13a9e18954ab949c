#include "midi/winmm/WinMmInput.h"

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Failure.h"
#include "common/WideText.h"
#include "midi/BackendFailure.h"
#include "midi/ListedInputService.h"
#include "midi/OutputService.h"

namespace midi {

namespace {

constexpr std::size_t NameBytes = sizeof(MIDIINCAPSA::szPname);

std::string ErrorText(WinMmInApi& api, MMRESULT result) {
    char text[MAXERRORLENGTH] = {};
    if (api.GetErrorText(result, text, sizeof text) != MMSYSERR_NOERROR) return {};
    return kelvane::Utf8FromCodePage(std::string_view(text, strnlen(text, sizeof text)), CP_ACP);
}

void Check(WinMmInApi& api, MMRESULT result, const char* operation) {
    if (result != MMSYSERR_NOERROR) {
        throw BackendFailure("WinMM", operation, ErrorText(api, result), static_cast<int>(result));
    }
}

// The bytes of a short message as MIM_DATA packs them: status in the low byte, then the data.
std::size_t ShortMessageBytes(std::uint8_t status) {
    if (status < 0x80) return 0;
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0)) return 3;
    if (status < 0xE0) return 2;
    if (status == 0xF1 || status == 0xF3) return 2;
    if (status == 0xF2) return 3;
    return 1;
}

struct Buffer {
    MIDIHDR header{};
    std::vector<char> data = std::vector<char>(InputBufferBytes);
};

class WinMmInputPort final : public InputPort {
public:
    WinMmInputPort(std::shared_ptr<WinMmInApi> api, UINT device, ByteReceiver receiver)
        : api_(std::move(api)), receiver_(std::move(receiver)), buffers_(InputBufferCount) {
        Check(*api_,
              api_->Open(&handle_, device, reinterpret_cast<DWORD_PTR>(&WinMmInputCallback),
                         reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION),
              "midiInOpen");
        try {
            for (Buffer& buffer : buffers_) {
                buffer.header.lpData = buffer.data.data();
                buffer.header.dwBufferLength = static_cast<DWORD>(buffer.data.size());
                Check(*api_, api_->PrepareHeader(handle_, &buffer.header, sizeof buffer.header), "midiInPrepareHeader");
                ++prepared_;
                Check(*api_, api_->AddBuffer(handle_, &buffer.header, sizeof buffer.header), "midiInAddBuffer");
                ++queued_;
                withDriver_.fetch_add(1, std::memory_order_relaxed);
            }
            collector_ = std::thread([this] { Collect(); });
            Check(*api_, api_->Start(handle_), "midiInStart");
        } catch (...) {
            Close();
            throw;
        }
    }

    ~WinMmInputPort() override { Close(); }

    // The driver's thread: notes what came and wakes the collector; nothing else.
    void Arrived(UINT message, DWORD_PTR param1) {
        switch (message) {
            case MIM_LONGERROR:
            case MIM_LONGDATA: {
                // The last buffer the driver held: until one is queued again, it has nowhere to
                // put what comes, and drops it.
                const bool starved = withDriver_.fetch_sub(1, std::memory_order_relaxed) == 1 && !stopping_.load();
                Push({reinterpret_cast<MIDIHDR*>(param1), 0, message == MIM_LONGERROR, starved});
                break;
            }
            case MIM_ERROR:
            case MIM_DATA:
                Push({nullptr, static_cast<DWORD>(param1), message == MIM_ERROR, false});
                break;
            default:
                break;
        }
    }

private:
    struct Event {
        MIDIHDR* header;  // a long-message buffer handed back; null for a short message
        DWORD packed;     // the short message
        bool broken;      // MIM_LONGERROR or MIM_ERROR: the driver says the bytes are not whole
        bool starved;     // the driver held no other buffer when it handed this one back
    };

    void Push(Event event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        }
        arrived_.notify_all();
    }

    void Collect() {
        for (;;) {
            Event event{};
            {
                std::unique_lock lock(mutex_);
                arrived_.wait(lock, [&] { return !events_.empty() || ending_; });
                if (events_.empty()) return;
                event = events_.front();
                events_.pop_front();
            }
            Handle(event);
        }
    }

    void Handle(const Event& event) {
        if (event.broken) {
            receiver_.Lost(sysex::LossCause::Damaged, 1);
        }
        if (!event.header) {
            if (event.broken) return;
            std::uint8_t bytes[3];
            for (int i = 0; i < 3; ++i) bytes[i] = static_cast<std::uint8_t>(event.packed >> (8 * i));
            const std::size_t count = ShortMessageBytes(bytes[0]);
            if (count > 0) receiver_({bytes, count});
            return;
        }
        MIDIHDR& header = *event.header;
        if (!event.broken && header.dwBytesRecorded > 0) {
            receiver_({reinterpret_cast<const std::uint8_t*>(header.lpData), header.dwBytesRecorded});
        }
        header.dwBytesRecorded = 0;
        {
            // Either the buffer is queued again before Close resets the device (and comes back
            // through the reset), or Close has begun and it stays with us.
            std::lock_guard requeue(requeue_);
            if (!stopping_) {
                if (event.starved) receiver_.Lost(sysex::LossCause::Overrun, 0);
                withDriver_.fetch_add(1, std::memory_order_relaxed);
                if (api_->AddBuffer(handle_, &header, sizeof header) == MMSYSERR_NOERROR) return;
                withDriver_.fetch_sub(1, std::memory_order_relaxed);
                // One buffer fewer from now on: the driver may run out of them.
                receiver_.Lost(sysex::LossCause::Overrun, 0);
            }
        }
        std::lock_guard lock(mutex_);
        --queued_;
        returned_.notify_all();
    }

    void Close() {
        if (!handle_) return;
        {
            std::lock_guard requeue(requeue_);
            stopping_ = true;
        }
        api_->Stop(handle_);
        api_->Reset(handle_);  // hands every queued buffer back through the callback
        bool allBack = true;
        {
            std::unique_lock lock(mutex_);
            if (collector_.joinable()) {
                allBack = returned_.wait_for(lock, InputReturnWait, [&] { return queued_ == 0; });
            } else {
                allBack = queued_ == 0;
            }
            ending_ = true;
        }
        arrived_.notify_all();
        if (collector_.joinable()) collector_.join();
        if (allBack) {
            for (std::size_t i = 0; i < prepared_; ++i) {
                api_->UnprepareHeader(handle_, &buffers_[i].header, sizeof buffers_[i].header);
            }
        } else {
            // The driver may still write into them: they stay allocated for good.
            static_cast<void>(new std::vector<Buffer>(std::move(buffers_)));
        }
        api_->Close(handle_);
        handle_ = nullptr;
    }

    std::shared_ptr<WinMmInApi> api_;
    ByteReceiver receiver_;
    std::vector<Buffer> buffers_;
    HMIDIIN handle_ = nullptr;
    std::size_t prepared_ = 0;
    std::thread collector_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::condition_variable returned_;
    std::deque<Event> events_;        // guarded by mutex_
    std::size_t queued_ = 0;          // buffers the driver holds; guarded by mutex_ once collecting
    bool ending_ = false;             // guarded by mutex_
    std::mutex requeue_;
    std::atomic<bool> stopping_{false};  // written under requeue_; read by the driver's thread too
    std::atomic<int> withDriver_{0};  // long-message buffers the driver holds now
};

// The same listed shape as the output side (WinMmOutputService) and the other backends.
class WinMmInputService final : public ListedInputService<UINT> {
public:
    explicit WinMmInputService(std::shared_ptr<WinMmInApi> api) : ListedInputService("WinMM"), api_(std::move(api)) {}

private:
    // WinMM numbers its devices from 0 itself, so the listing is just their count; a name is
    // read when it is asked for.
    std::vector<UINT> List() override {
        std::vector<UINT> devices(api_->GetNumDevs());
        for (std::size_t i = 0; i < devices.size(); ++i) devices[i] = static_cast<UINT>(i);
        return devices;
    }

    std::string NameOf(const UINT& device) const override {
        MIDIINCAPSA caps{};
        Check(*api_, api_->GetDevCaps(device, &caps, sizeof caps), "midiInGetDevCapsA");
        return kelvane::Utf8FromCodePage(std::string_view(caps.szPname, strnlen(caps.szPname, NameBytes)), CP_ACP);
    }

    std::unique_ptr<InputPort> OpenPort(const UINT& device, ByteReceiver receiver) override {
        return std::make_unique<WinMmInputPort>(api_, device, std::move(receiver));
    }

    std::shared_ptr<WinMmInApi> api_;
};

class SystemApi final : public WinMmInApi {
public:
    UINT GetNumDevs() override { return ::midiInGetNumDevs(); }
    MMRESULT GetDevCaps(UINT_PTR device, MIDIINCAPSA* caps, UINT capsBytes) override {
        return ::midiInGetDevCapsA(device, caps, capsBytes);
    }
    MMRESULT Open(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override {
        return ::midiInOpen(handle, device, callback, instance, flags);
    }
    MMRESULT Close(HMIDIIN handle) override { return ::midiInClose(handle); }
    MMRESULT Start(HMIDIIN handle) override { return ::midiInStart(handle); }
    MMRESULT Stop(HMIDIIN handle) override { return ::midiInStop(handle); }
    MMRESULT Reset(HMIDIIN handle) override { return ::midiInReset(handle); }
    MMRESULT PrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerBytes) override {
        return ::midiInPrepareHeader(handle, header, headerBytes);
    }
    MMRESULT UnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerBytes) override {
        return ::midiInUnprepareHeader(handle, header, headerBytes);
    }
    MMRESULT AddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerBytes) override {
        return ::midiInAddBuffer(handle, header, headerBytes);
    }
    MMRESULT GetErrorText(MMRESULT result, char* text, UINT textBytes) override {
        return ::midiInGetErrorTextA(result, text, textBytes);
    }
};

}  // namespace

void CALLBACK WinMmInputCallback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (instance != 0) reinterpret_cast<WinMmInputPort*>(instance)->Arrived(message, param1);
}

std::shared_ptr<WinMmInApi> SystemWinMmInApi() { return std::make_shared<SystemApi>(); }

std::unique_ptr<InputService> MakeWinMmInputService(std::shared_ptr<WinMmInApi> api) {
    return std::make_unique<WinMmInputService>(std::move(api));
}

}  // namespace midi
