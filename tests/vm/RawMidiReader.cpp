#include "RawMidiReader.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <stdexcept>

#include "Messages.h"

namespace kelvane::vm {

namespace {

// The kernel refuses rawmidi buffers above 1 MiB; the largest burst a check sends in one go
// (ten 64 KiB messages) fits with room to spare even when the reading thread falls behind.
constexpr std::size_t kBufferBytes = 1024 * 1024;

void Check(int result, const char* operation) {
    if (result < 0) {
        throw std::runtime_error(std::string(operation) + ": " + snd_strerror(result));
    }
}

}  // namespace

RawMidiReader::RawMidiReader(const std::string& device, std::size_t bytesPerSecond)
    : bytesPerSecond_(bytesPerSecond) {
    Check(snd_rawmidi_open(&input_, nullptr, device.c_str(), SND_RAWMIDI_NONBLOCK),
          "snd_rawmidi_open");
    snd_rawmidi_params_t* params = nullptr;
    try {
        Check(snd_rawmidi_params_malloc(&params), "snd_rawmidi_params_malloc");
        Check(snd_rawmidi_params_current(input_, params), "snd_rawmidi_params_current");
        if (bytesPerSecond_ == 0) {
            Check(snd_rawmidi_params_set_buffer_size(input_, params, kBufferBytes),
                  "snd_rawmidi_params_set_buffer_size");
        }
        Check(snd_rawmidi_params(input_, params), "snd_rawmidi_params");
        snd_rawmidi_params_free(params);
        params = nullptr;
        // A read triggers the input; virmidi drops events that arrive before that. The device
        // is still empty, so this read can only report that nothing is there yet.
        std::uint8_t byte = 0;
        const ssize_t got = snd_rawmidi_read(input_, &byte, 1);
        if (got != -EAGAIN) {
            throw std::runtime_error("virmidi input not empty before the first send");
        }
    } catch (...) {
        if (params != nullptr) snd_rawmidi_params_free(params);
        snd_rawmidi_close(input_);
        throw;
    }
    thread_ = std::thread([this] { ReadLoop(); });
}

RawMidiReader::~RawMidiReader() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    thread_.join();
    snd_rawmidi_close(input_);
}

void RawMidiReader::ReadLoop() {
    std::array<pollfd, 4> fds{};
    const int fdCount = snd_rawmidi_poll_descriptors(input_, fds.data(), fds.size());
    std::array<std::uint8_t, 4096> chunk{};
    bool more = false;
    // A device behind a cable takes no more than its rate allows since the reader started,
    // however much is there. Counted from the start rather than per wake-up, so that a reader
    // woken late on a busy machine catches up instead of falling behind the cable for good; a
    // cable banks no time, so idle time gives at most a tenth of a second's bytes in one go.
    const auto started = std::chrono::steady_clock::now();
    const std::uint64_t mostBanked = bytesPerSecond_ / 10;
    std::uint64_t taken = 0;
    for (;;) {
        // A short poll keeps the stop request answered without a wake-up pipe.
        if (!more) poll(fds.data(), static_cast<nfds_t>(fdCount), 20);
        std::size_t wanted = chunk.size();
        if (bytesPerSecond_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            const auto allowed = static_cast<std::uint64_t>(elapsed * static_cast<double>(bytesPerSecond_));
            if (allowed > taken + mostBanked) taken = allowed - mostBanked;
            wanted = static_cast<std::size_t>(std::min<std::uint64_t>(allowed > taken ? allowed - taken : 0, chunk.size()));
            if (wanted == 0) continue;
        }
        // One chunk per turn of the lock, so that waiters see a long burst as it comes in.
        std::lock_guard lock(mutex_);
        if (stop_) return;
        const ssize_t got = snd_rawmidi_read(input_, chunk.data(), wanted);
        more = got > 0;
        if (more) {
            taken += static_cast<std::uint64_t>(got);
            received_.insert(received_.end(), chunk.begin(), chunk.begin() + got);
            arrived_.notify_all();
        }
    }
}

std::optional<std::vector<std::uint8_t>> RawMidiReader::BytesBefore(const std::vector<std::uint8_t>& marker,
                                                                    std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    std::optional<std::vector<std::uint8_t>> before;
    arrived_.wait_for(lock, timeout,
                      [&] { return (before = testsupport::BeforeEndMarker(received_, marker)).has_value(); });
    return before;
}

void RawMidiReader::AddOverrunsLocked() {
    snd_rawmidi_status_t* status = nullptr;
    Check(snd_rawmidi_status_malloc(&status), "snd_rawmidi_status_malloc");
    const int result = snd_rawmidi_status(input_, status);
    overruns_ += snd_rawmidi_status_get_xruns(status);
    snd_rawmidi_status_free(status);
    Check(result, "snd_rawmidi_status");
}

std::size_t RawMidiReader::Overruns() {
    std::lock_guard lock(mutex_);
    AddOverrunsLocked();
    return overruns_;
}

}  // namespace kelvane::vm
