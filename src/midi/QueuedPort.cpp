#include "midi/QueuedPort.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>
#include <algorithm>

#include "common/Failure.h"

namespace midi {

namespace {

// What every port thread of the process shares: how many of them still run (so a front end can
// wait for them before it exits), and for each device when the thread of its newest port ends
// (so the next port of that device can take its turn). Never destroyed: a port's thread may
// still be running while the process exits and static objects go away.
class PortThreadRegistry {
public:
    static PortThreadRegistry& Instance() {
        static auto* registry = new PortThreadRegistry;
        return *registry;
    }

    // Makes `port` the device's newest port, whose thread ends with `ended`. Returns when the
    // thread of the device's previous port ends; not valid when there was none.
    std::shared_future<void> TakeTurn(const std::string& device, std::shared_future<void> ended,
                                      const void* port) {
        std::lock_guard lock(turnsMutex_);
        Turn& newest = turns_[device];
        std::shared_future<void> previous = newest.ended;
        newest = {std::move(ended), port};
        return previous;
    }

    // The thread of `port` is about to end: a later port of the device no longer waits for it.
    void EndTurn(const std::string& device, const void* port) {
        std::lock_guard lock(turnsMutex_);
        const auto newest = turns_.find(device);
        if (newest != turns_.end() && newest->second.port == port) turns_.erase(newest);
    }

    void ThreadStarting() {
        std::lock_guard lock(threadsMutex_);
        ++running_;
    }

    // Also for a thread that could not be started after ThreadStarting.
    void ThreadEnded() {
        std::lock_guard lock(threadsMutex_);
        --running_;
        threadsEnded_.notify_all();
    }

    bool WaitUntilNoneRuns(std::chrono::milliseconds timeout) {
        std::unique_lock lock(threadsMutex_);
        return threadsEnded_.wait_for(lock, timeout, [&] { return running_ == 0; });
    }

private:
    struct Turn {
        std::shared_future<void> ended;
        const void* port;
    };

    std::mutex threadsMutex_;
    std::condition_variable threadsEnded_;
    std::size_t running_ = 0;  // guarded by threadsMutex_

    std::mutex turnsMutex_;
    std::map<std::string, Turn> turns_;  // guarded by turnsMutex_
};

}  // namespace

bool WaitForClosedPorts(std::chrono::milliseconds timeout) {
    return PortThreadRegistry::Instance().WaitUntilNoneRuns(timeout);
}

void BackgroundCloseStarted() { PortThreadRegistry::Instance().ThreadStarting(); }
void BackgroundCloseEnded() { PortThreadRegistry::Instance().ThreadEnded(); }

struct QueuedPort::State {
    std::mutex mutex;
    std::condition_variable changed;
    struct Handed {
        std::vector<std::uint8_t> bytes;
        std::chrono::steady_clock::time_point at;
    };
    std::deque<Handed> queue;  // guarded by mutex
    bool busy = false;                            // the thread holds a message or is draining
    bool closing = false;
    PortStatus status;
    std::unique_ptr<MessageSink> sink;  // touched by the port's thread only once it runs
    std::string device;
    std::shared_future<void> previousEnded;  // the device's previous port, if any
    std::promise<void> ended;
    // Port thread only: messages the sink has taken but not yet confirmed through Drain. They
    // count as sent or failed only once the device has really taken them, or can no longer.
    std::uint64_t undrained = 0;

    // The port's thread. Holds its own reference to the state, so it may outlive the port.
    static void Run(std::shared_ptr<State> self) {
        self->WaitForTurn();
        while (std::optional<Handed> message = self->TakeNext()) {
            self->Deliver(std::move(*message));
            self->DrainWhenIdle();
        }
        self->Finish();
    }

    void WaitForTurn() {
        if (previousEnded.valid()) previousEnded.wait();
    }

    // Waits for the next message; none once the port is closing and everything handed over is out.
    std::optional<Handed> TakeNext() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return !queue.empty() || closing; });
        if (queue.empty()) return std::nullopt;
        Handed message = std::move(queue.front());
        queue.pop_front();
        busy = true;
        return message;
    }

    // Takes the message by value: the copy is released as soon as the device has it, so memory
    // stays flat.
    void Deliver(Handed message) {
        try {
            sink->DeliverHandedAt(message.bytes, message.at);
            ++undrained;
        } catch (const DeviceGone& gone) {
            std::lock_guard lock(mutex);
            Fail(1, gone.what());
            FailQueued(gone.what());
        } catch (const kelvane::Failure& failure) {
            std::lock_guard lock(mutex);
            Fail(1, failure.what());
        }
    }

    // Once nothing more is queued, waits until the device holds everything delivered, and only
    // then counts it as sent. A message handed over meanwhile ends the wait: it is delivered
    // first, and the wait comes again once the queue is empty.
    void DrainWhenIdle() {
        std::unique_lock lock(mutex);
        bool drained = true;
        if (queue.empty()) {
            lock.unlock();
            std::string error;
            bool gone = false;
            std::uint64_t held = 0;
            try {
                held = std::min(undrained, sink->Drain([this] {
                    std::lock_guard waiting(mutex);
                    return !queue.empty();
                }, undrained));
            } catch (const DeviceGone& failure) {
                error = failure.what();
                gone = true;
            } catch (const kelvane::Failure& failure) {
                error = failure.what();
            }
            std::vector<std::uint64_t> doubts = sink->TakeDoubts();
            lock.lock();
            status.inDoubt.insert(status.inDoubt.end(), doubts.begin(), doubts.end());
            if (!error.empty()) {
                Fail(undrained, error);
                if (gone) FailQueued(error);
                undrained = 0;
            } else {
                status.sent += held;
                undrained -= held;
                drained = undrained == 0;
            }
        }
        if (queue.empty() && drained) busy = false;
        changed.notify_all();
    }

    // Closes the device, then lets the device's next port and any waiting front end go on.
    void Finish() {
        sink.reset();
        PortThreadRegistry& registry = PortThreadRegistry::Instance();
        registry.EndTurn(device, this);
        ended.set_value();
        registry.ThreadEnded();
    }

    // Called with the mutex held.
    void Fail(std::uint64_t messages, const std::string& error) {
        status.failed += messages;
        status.lastError = error;
    }

    // The device has gone: everything still queued fails with it. Called with the mutex held.
    void FailQueued(const std::string& error) {
        if (queue.empty()) return;
        Fail(queue.size(), error);
        queue.clear();
    }
};

QueuedPort::QueuedPort(std::string device, std::unique_ptr<MessageSink> sink)
    : state_(std::make_shared<State>()), leadsToCable_(sink->LeadsToCable()) {
    state_->sink = std::move(sink);
    state_->device = std::move(device);
    PortThreadRegistry& registry = PortThreadRegistry::Instance();
    state_->previousEnded =
        registry.TakeTurn(state_->device, state_->ended.get_future().share(), state_.get());
    registry.ThreadStarting();
    try {
        std::thread(State::Run, state_).detach();
    } catch (...) {
        registry.ThreadEnded();
        throw;
    }
}

QueuedPort::~QueuedPort() {
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->changed.notify_all();
}

void QueuedPort::Send(std::span<const std::uint8_t> message) {
    State::Handed copy{{message.begin(), message.end()}, std::chrono::steady_clock::now()};
    std::lock_guard lock(state_->mutex);
    state_->queue.push_back(std::move(copy));
    ++state_->status.handedOver;
    state_->changed.notify_all();
}

bool QueuedPort::WaitUntilSent(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout,
                                    [&] { return state_->queue.empty() && !state_->busy; });
}

PortStatus QueuedPort::Status() const {
    std::lock_guard lock(state_->mutex);
    return state_->status;
}

}  // namespace midi
