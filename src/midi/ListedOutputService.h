#pragma once
// The common shape of the backends: CountDevices lists the devices afresh, DeviceName and Open
// refer to that list, and an open device becomes a QueuedPort. A backend says only how to list
// its devices, what a device is called, and how to make a port for one.

#include <cerrno>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/Failure.h"
#include "midi/BackendFailure.h"
#include "midi/OutputService.h"

namespace midi {

template <typename Device>
class ListedOutputService : public OutputService {
public:
    explicit ListedOutputService(std::string library) : library_(std::move(library)) {}

    std::size_t CountDevices() final {
        unanswered_.clear();
        try {
            devices_ = List();
        } catch (const BackendFailure& failure) {
            // No sequencer or server on this machine: the backend simply offers no device. One
            // that did not answer is told as well, for front ends that can say so.
            devices_.clear();
            if (failure.Code() == -ETIMEDOUT) unanswered_ = failure.what();
        }
        return devices_.size();
    }

    std::string DeviceName(std::size_t device) final {
        if (device >= devices_.size()) throw kelvane::Failure(NoDeviceText(device));
        return NameOf(devices_[device]);
    }

    OpenResult Open(std::size_t device) final {
        if (device >= devices_.size()) return {NoSuchDevice, NoDeviceText(device), nullptr};
        try {
            return {0, {}, OpenPort(devices_[device])};
        } catch (const BackendFailure& failure) {
            return {failure.Code(), failure.what(), nullptr};
        } catch (const std::exception& failure) {
            // Out of memory or threads: the device is fine, this process is not.
            return {-ENOMEM, failure.what(), nullptr};
        }
    }

    std::string UnansweredText() const final { return unanswered_; }

protected:
    // Throws BackendFailure when the library cannot be reached at all, with -ETIMEDOUT when it
    // did not answer.
    virtual std::vector<Device> List() = 0;
    virtual std::string NameOf(const Device& device) const = 0;
    // Throws BackendFailure when the device refuses.
    virtual std::unique_ptr<OutputPort> OpenPort(const Device& device) = 0;

private:
    std::string NoDeviceText(std::size_t device) const {
        return library_ + " の出力デバイス " + std::to_string(device) + " はありません";
    }

    std::string library_;
    std::vector<Device> devices_;
    std::string unanswered_;
};

}  // namespace midi
