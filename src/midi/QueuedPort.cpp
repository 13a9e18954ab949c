#include "midi/QueuedPort.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Failure.h"

namespace midi {

namespace {

// Port threads that have not ended yet. Never destroyed: a port's thread may still be running
// while the process exits and static objects go away.
struct PortThreads {
    std::mutex mutex;
    std::condition_variable ended;
    std::size_t running = 0;
};

PortThreads& Threads() {
    static auto* threads = new PortThreads;
    return *threads;
}

// For each device, when the thread of its newest port ends. Never destroyed, like PortThreads.
struct DeviceTurns {
    struct Turn {
        std::shared_future<void> ended;
        const void* port;
    };
    std::mutex mutex;
    std::map<std::string, Turn> newest;
};

DeviceTurns& Turns() {
    static auto* turns = new DeviceTurns;
    return *turns;
}

}  // namespace

bool WaitForClosedPorts(std::chrono::milliseconds timeout) {
    PortThreads& threads = Threads();
    std::unique_lock lock(threads.mutex);
    return threads.ended.wait_for(lock, timeout, [&] { return threads.running == 0; });
}

struct QueuedPort::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<std::uint8_t>> queue;  // guarded by mutex
    bool busy = false;                            // the thread holds a message or is draining
    bool closing = false;
    PortStatus status;
    std::unique_ptr<MessageSink> sink;  // touched by the port's thread only once it runs
    std::string device;
    std::shared_future<void> previousEnded;  // the device's previous port, if any
    std::promise<void> ended;

    // The port's thread. Holds its own reference to the state, so it may outlive the port.
    static void Run(std::shared_ptr<State> self) {
        // Messages the sink has taken but not yet confirmed through Drain: they count as sent
        // or failed only once the device has really taken them, or can no longer.
        std::uint64_t undrained = 0;
        if (self->previousEnded.valid()) self->previousEnded.wait();
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->changed.wait(lock, [&] { return !self->queue.empty() || self->closing; });
            if (self->queue.empty()) break;  // closing, and everything handed over is out
            std::vector<std::uint8_t> message = std::move(self->queue.front());
            self->queue.pop_front();
            self->busy = true;
            lock.unlock();

            std::string error;
            try {
                self->sink->Deliver(message);
                ++undrained;
            } catch (const kelvane::Failure& failure) {
                error = failure.what();
            }
            // The copy is released as soon as the device has it, so memory stays flat.
            message = {};

            lock.lock();
            if (!error.empty()) self->Fail(1, error);
            if (self->queue.empty()) {
                lock.unlock();
                error.clear();
                try {
                    self->sink->Drain();
                } catch (const kelvane::Failure& failure) {
                    error = failure.what();
                }
                lock.lock();
                if (error.empty()) {
                    self->status.sent += undrained;
                } else {
                    self->Fail(undrained, error);
                }
                undrained = 0;
            }
            if (self->queue.empty()) self->busy = false;
            self->changed.notify_all();
        }
        lock.unlock();
        self->sink.reset();

        {
            DeviceTurns& turns = Turns();
            std::lock_guard turn(turns.mutex);
            const auto newest = turns.newest.find(self->device);
            if (newest != turns.newest.end() && newest->second.port == self.get()) {
                turns.newest.erase(newest);
            }
        }
        self->ended.set_value();

        PortThreads& threads = Threads();
        std::lock_guard done(threads.mutex);
        --threads.running;
        threads.ended.notify_all();
    }

    // Called with the mutex held.
    void Fail(std::uint64_t messages, const std::string& error) {
        status.failed += messages;
        status.lastError = error;
    }
};

QueuedPort::QueuedPort(std::string device, std::unique_ptr<MessageSink> sink)
    : state_(std::make_shared<State>()) {
    state_->sink = std::move(sink);
    state_->device = std::move(device);
    {
        DeviceTurns& turns = Turns();
        std::lock_guard turn(turns.mutex);
        auto& newest = turns.newest[state_->device];
        state_->previousEnded = newest.ended;
        newest = {state_->ended.get_future().share(), state_.get()};
    }
    PortThreads& threads = Threads();
    {
        std::lock_guard lock(threads.mutex);
        ++threads.running;
    }
    try {
        std::thread(State::Run, state_).detach();
    } catch (...) {
        std::lock_guard lock(threads.mutex);
        --threads.running;
        throw;
    }
}

QueuedPort::~QueuedPort() {
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->changed.notify_all();
}

void QueuedPort::Send(std::span<const std::uint8_t> message) {
    std::vector<std::uint8_t> copy(message.begin(), message.end());
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
