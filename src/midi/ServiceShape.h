#pragma once
// The shape both directions share, so that a fix in one reaches the other:
//
// - DeviceListing: a backend's list of devices (outputs) or sources (inputs) as read last, what
//   the sound server that did not answer said, and opening an entry of it with the backend's
//   failures turned into a result code.
// - CombinedParts: several services shown as one list, the devices of the first part, then
//   those of the second, and so on; the parts are asked at once, since a sound server may take
//   tens of milliseconds to answer.
//
// Both are used from one thread at a time, as the services are.

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <exception>
#include <future>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "midi/BackendFailure.h"
#include "midi/OutputService.h"

namespace midi {

template <typename Device>
class DeviceListing {
public:
    // Lists afresh with `list`, which throws BackendFailure when the library cannot be reached
    // at all (-ETIMEDOUT when it did not answer): the backend then offers nothing, and one that
    // did not answer is told, for front ends that can say so.
    template <typename List>
    std::size_t Refresh(List list) {
        unanswered_.clear();
        try {
            devices_ = list();
        } catch (const BackendFailure& failure) {
            devices_.clear();
            if (failure.Code() == -ETIMEDOUT) unanswered_ = failure.what();
        }
        return devices_.size();
    }

    // Null for a number beyond the list.
    const Device* At(std::size_t device) const { return device < devices_.size() ? &devices_[device] : nullptr; }

    const std::string& Unanswered() const { return unanswered_; }

    // Opens entry `device` with `open(const Device&)`, which returns the port or throws. Never
    // throws: a device beyond the list gives NoSuchDevice with `noDevice`, a refusal its code.
    template <typename Result, typename Open>
    Result OpenEntry(std::size_t device, const std::string& noDevice, Open open) const {
        const Device* found = At(device);
        if (!found) return {NoSuchDevice, noDevice, nullptr};
        try {
            return {0, {}, open(*found)};
        } catch (const BackendFailure& failure) {
            return {failure.Code(), failure.what(), nullptr};
        } catch (const std::exception& failure) {
            // Out of memory or threads: the device is fine, this process is not.
            return {-ENOMEM, failure.what(), nullptr};
        }
    }

private:
    std::vector<Device> devices_;
    std::string unanswered_;
};

template <typename Service>
class CombinedParts {
public:
    explicit CombinedParts(std::vector<std::unique_ptr<Service>> parts)
        : parts_(std::move(parts)), counts_(parts_.size(), 0) {}

    // The last part (the sound server, on Linux) is asked on this thread, so that its answer is
    // not a thread start later.
    std::size_t Count() {
        std::vector<std::future<std::size_t>> earlier;
        for (std::size_t i = 0; i + 1 < parts_.size(); ++i) {
            Service* part = parts_[i].get();
            try {
                earlier.push_back(std::async(std::launch::async, [part] { return part->CountDevices(); }));
            } catch (const std::system_error&) {
                earlier.push_back(std::async(std::launch::deferred, [part] { return part->CountDevices(); }));
            }
        }
        if (parts_.empty()) return 0;
        std::size_t total = counts_.back() = parts_.back()->CountDevices();
        for (std::size_t i = 0; i < earlier.size(); ++i) {
            // A window that waits here still repaints, as it does while a part waits on its own.
            while (earlier[i].wait_for(std::chrono::milliseconds(10)) == std::future_status::timeout) WhileWaiting();
            counts_[i] = earlier[i].get();
            total += counts_[i];
        }
        return total;
    }

    struct Route {
        Service* service;
        std::size_t device;
    };
    // The part that holds a device of the list counted last; no service when out of range.
    Route Find(std::size_t device) const {
        for (std::size_t i = 0; i < parts_.size(); ++i) {
            if (device < counts_[i]) return {parts_[i].get(), device};
            device -= counts_[i];
        }
        return {nullptr, 0};
    }

    std::string UnansweredText() const {
        std::string text;
        for (const auto& part : parts_) {
            const std::string unanswered = part->UnansweredText();
            if (!unanswered.empty()) text += (text.empty() ? "" : "\n") + unanswered;
        }
        return text;
    }

private:
    std::vector<std::unique_ptr<Service>> parts_;
    std::vector<std::size_t> counts_;
};

}  // namespace midi
