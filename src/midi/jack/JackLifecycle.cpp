#include "midi/jack/JackLifecycle.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>

#include "midi/QueuedPort.h"

namespace midi {

namespace {

using Clock = std::chrono::steady_clock;

thread_local bool onLifecycleThread = false;

// The queue of lifecycle work and the one thread that does it. Never destroyed: the thread may
// still be stuck in libjack while the process exits.
class Lifecycle {
public:
    static Lifecycle& Instance() {
        static auto* lifecycle = new Lifecycle;
        return *lifecycle;
    }

    // `stuckLimit` empty: the work is never refused (closes must happen some time).
    bool Start(std::function<void()> work, bool listingClose, std::optional<std::chrono::milliseconds> stuckLimit) {
        std::lock_guard lock(mutex_);
        if (stuckLimit && busySince_ && Clock::now() - *busySince_ >= *stuckLimit) return false;
        jobs_.push_back({std::move(work), listingClose});
        if (running_) {
            changed_.notify_all();
            return true;
        }
        try {
            std::thread([this] { Run(); }).detach();
            running_ = true;
            return true;
        } catch (const std::system_error&) {
            jobs_.pop_back();
            return false;
        }
    }

    void Hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
        heldSince_ = Clock::now();
    }

    void Release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }

private:
    struct Job {
        std::function<void()> work;
        bool listingClose;
    };

    bool HoldOn() const { return held_ && Clock::now() - heldSince_ < ListingCloseHoldLimit; }

    // The thread: takes work in order, except that held listing closes wait aside.
    void Run() {
        onLifecycleThread = true;
        std::unique_lock lock(mutex_);
        for (;;) {
            auto next = jobs_.begin();
            if (HoldOn()) {
                while (next != jobs_.end() && next->listingClose) ++next;
            }
            if (next != jobs_.end()) {
                std::function<void()> work = std::move(next->work);
                jobs_.erase(next);
                busySince_ = Clock::now();
                lock.unlock();
                work();
                work = nullptr;  // whatever the work held goes before the turn ends
                lock.lock();
                busySince_.reset();
                continue;
            }
            if (jobs_.empty()) {
                running_ = false;
                return;
            }
            changed_.wait_until(lock, heldSince_ + ListingCloseHoldLimit);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;                      // guarded by mutex_
    bool running_ = false;                      // the thread exists; guarded by mutex_
    std::optional<Clock::time_point> busySince_;  // when the current call began; guarded by mutex_
    bool held_ = false;                         // guarded by mutex_
    Clock::time_point heldSince_;               // guarded by mutex_
};

void CloseNow(jack_client_t* client) {
    jack_deactivate(client);
    jack_client_close(client);
}

// Counted for WaitForClosedPorts from the hand-over on; run inline when no thread can start.
void HandOverClose(std::function<void()> close, bool listingClose) {
    BackgroundCloseStarted();
    auto counted = [close = std::move(close)] {
        close();
        BackgroundCloseEnded();
    };
    if (!Lifecycle::Instance().Start(counted, listingClose, std::nullopt)) counted();
}

// A lifecycle call from elsewhere: runs on the lifecycle thread, within the limit.
template <typename Result>
std::optional<Result> OnLifecycle(std::function<Result()> call) {
    try {
        return RunWithinJackLimit<Result>("JACK", std::move(call));
    } catch (const BackendFailure&) {
        return std::nullopt;
    }
}

}  // namespace

bool OnJackLifecycleThread() { return onLifecycleThread; }

bool StartJackLifecycleWork(std::function<void()> work, std::chrono::milliseconds stuckLimit) {
    return Lifecycle::Instance().Start(std::move(work), false, stuckLimit);
}

void ThrowJackNotAnswering(const char* operation) {
    throw BackendFailure("JACK", operation, "サーバーが応答しません", -ETIMEDOUT);
}

jack_client_t* OpenJackClient(const char* name, jack_status_t& status) {
    if (!JackServerNameUsable()) {
        status = static_cast<jack_status_t>(JackFailure | JackServerFailed);
        return nullptr;
    }
    if (OnJackLifecycleThread()) return jack_client_open(name, JackNoStartServer, &status);
    struct Opened {
        jack_client_t* client;
        jack_status_t status;
    };
    const std::string copied = name;
    const auto opened = OnLifecycle<Opened>([copied] {
        Opened result{nullptr, {}};
        result.client = jack_client_open(copied.c_str(), JackNoStartServer, &result.status);
        return result;
    });
    if (!opened) {
        status = static_cast<jack_status_t>(JackFailure | JackServerFailed);
        return nullptr;
    }
    status = opened->status;
    return opened->client;
}

int ActivateJackClient(jack_client_t* client) {
    if (OnJackLifecycleThread()) return jack_activate(client);
    return OnLifecycle<int>([client] { return jack_activate(client); }).value_or(-ETIMEDOUT);
}

int ConnectJackPorts(jack_client_t* client, const char* source, const char* destination) {
    if (OnJackLifecycleThread()) return jack_connect(client, source, destination);
    const std::string from = source;
    const std::string to = destination;
    return OnLifecycle<int>([client, from, to] { return jack_connect(client, from.c_str(), to.c_str()); })
        .value_or(-ETIMEDOUT);
}

void CloseJackClientLater(jack_client_t* client, std::function<bool()> serverGone, std::function<void()> afterClose) {
    if (!client) return;
    HandOverClose([client, serverGone = std::move(serverGone), afterClose = std::move(afterClose)] {
        if (!serverGone || !serverGone()) CloseNow(client);
        if (afterClose) afterClose();
    }, false);
}

void CloseListingClientLater(jack_client_t* client) {
    if (!client) return;
    HandOverClose([client] { CloseNow(client); }, true);
}

void HoldListingCloses() { Lifecycle::Instance().Hold(); }
void ReleaseListingCloses() { Lifecycle::Instance().Release(); }

bool JackServerNameUsable() {
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name == nullptr || std::strlen(name) <= MaxJackServerNameBytes;
}

}  // namespace midi
