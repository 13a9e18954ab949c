#include "midi/jack/JackLifecycle.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <system_error>
#include <vector>

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

// Every client opened and not yet closed. Never destroyed, like the lifecycle thread.
struct Registry {
    std::mutex mutex;
    std::map<jack_client_t*, std::shared_ptr<JackClientRecord>> clients;  // guarded by mutex
    // A shutdown notice came since the last open: libjack's next open would close every client.
    std::atomic<bool> serverWentAway{false};
};

Registry& Clients() {
    static auto* registry = new Registry;
    return *registry;
}


// libjack calls this from its process or notification thread, whichever sees the end first.
void OnShutdown(jack_status_t, const char*, void* arg) {
    auto* record = static_cast<JackClientRecord*>(arg);
    record->gone.store(true);
    Clients().serverWentAway.store(true);
    record->TellOnce();
}

void Record(jack_client_t* client) {
    auto record = std::make_shared<JackClientRecord>(client);
    jack_on_info_shutdown(client, &OnShutdown, record.get());
    std::lock_guard lock(Clients().mutex);
    Clients().clients[client] = std::move(record);
}

// Lifecycle thread. Marks the client closed (so nobody calls libjack on it any more), tells its
// handler when it closes for its server's sake, and forgets it; `close` false: libjack closes it.
void Retire(JackClientRecord& record, bool close, bool serverGone) {
    {
        std::unique_lock lock(record.use);
        if (record.closed) return;
        record.closed = true;
        if (serverGone) {
            record.gone.store(true);
            record.TellOnce();
        }
        if (close) {
            jack_deactivate(record.client);
            jack_client_close(record.client);
        }
    }
    std::lock_guard lock(Clients().mutex);
    const auto found = Clients().clients.find(record.client);
    if (found != Clients().clients.end() && found->second.get() == &record) Clients().clients.erase(found);
}

void RetireAll(bool close) {
    std::vector<std::shared_ptr<JackClientRecord>> all;
    {
        std::lock_guard lock(Clients().mutex);
        for (const auto& entry : Clients().clients) all.push_back(entry.second);
    }
    for (const auto& record : all) Retire(*record, close, true);
}

// Lifecycle thread, before every open: what libjack would do within the open, done knowingly.
jack_client_t* OpenOnLifecycle(const char* name, jack_status_t& status) {
    if (Clients().serverWentAway.exchange(false)) RetireAll(true);
    jack_client_t* client = jack_client_open(name, JackNoStartServer, &status);
    if (client) Record(client);
    return client;
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
    if (OnJackLifecycleThread()) return OpenOnLifecycle(name, status);
    struct Opened {
        jack_client_t* client;
        jack_status_t status;
    };
    const std::string copied = name;
    const auto opened = OnLifecycle<Opened>([copied] {
        Opened result{nullptr, {}};
        result.client = OpenOnLifecycle(copied.c_str(), result.status);
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

std::shared_ptr<JackClientRecord> JackRecordOf(jack_client_t* client) {
    std::lock_guard lock(Clients().mutex);
    const auto found = Clients().clients.find(client);
    return found == Clients().clients.end() ? nullptr : found->second;
}

void CloseJackClientLater(std::shared_ptr<JackClientRecord> client, std::function<void()> afterClose) {
    if (!client) return;
    HandOverClose([client = std::move(client), afterClose = std::move(afterClose)] {
        Retire(*client, true, false);
        if (afterClose) afterClose();
    }, false);
}

void SetJackShutdownHandler(JackClientRecord& client, JackInfoShutdownCallback handler, void* arg) {
    client.arg.store(arg);
    client.handler.store(handler);
    // A notice that came before there was anyone to tell.
    if (client.gone.load()) client.TellOnce();
}

JackClientUse::JackClientUse(JackClientRecord& client) : record_(client) {
    record_.use.lock_shared();
    open_ = !record_.closed;
}

JackClientUse::~JackClientUse() { record_.use.unlock_shared(); }

void NoteLibJackClosesEveryClient() {
    if (OnJackLifecycleThread()) RetireAll(false);
}

void CloseListingClientLater(std::shared_ptr<JackClientRecord> client) {
    if (!client) return;
    HandOverClose([client = std::move(client)] { Retire(*client, true, false); }, true);
}

void HoldListingCloses() { Lifecycle::Instance().Hold(); }
void ReleaseListingCloses() { Lifecycle::Instance().Release(); }

bool JackServerNameUsable() {
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name == nullptr || std::strlen(name) <= MaxJackServerNameBytes;
}

}  // namespace midi
