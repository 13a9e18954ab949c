#pragma once
// The input side of ListedOutputService: CountDevices lists the sources afresh, DeviceName and
// Open refer to that list. A backend says only how to list its sources, what a source is
// called, and how to open one.

#include <cerrno>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/Failure.h"
#include "midi/BackendFailure.h"
#include "midi/InputService.h"
#include "midi/OutputService.h"

namespace midi {

template <typename Device>
class ListedInputService : public InputService {
public:
    explicit ListedInputService(std::string library) : library_(std::move(library)) {}

    std::size_t CountDevices() final {
        unanswered_.clear();
        try {
            devices_ = List();
        } catch (const BackendFailure& failure) {
            // No sequencer or server on this machine: the backend simply offers no source. One
            // that did not answer is told as well, for front ends that can say so.
            devices_.clear();
            if (failure.Code() == -ETIMEDOUT) unanswered_ = failure.what();
        }
        return devices_.size();
    }

    std::string UnansweredText() const final { return unanswered_; }

    std::string DeviceName(std::size_t device) final {
        if (device >= devices_.size()) throw kelvane::Failure(NoDeviceText(device));
        return NameOf(devices_[device]);
    }

    InputOpenResult Open(std::size_t device, ByteReceiver receiver) final {
        if (device >= devices_.size()) return {NoSuchDevice, NoDeviceText(device), nullptr};
        try {
            return {0, {}, OpenPort(devices_[device], std::move(receiver))};
        } catch (const BackendFailure& failure) {
            return {failure.Code(), failure.what(), nullptr};
        } catch (const std::exception& failure) {
            return {-ENOMEM, failure.what(), nullptr};
        }
    }

protected:
    // Throws BackendFailure when the library cannot be reached at all.
    virtual std::vector<Device> List() = 0;
    virtual std::string NameOf(const Device& device) const = 0;
    // Throws BackendFailure when the source refuses.
    virtual std::unique_ptr<InputPort> OpenPort(const Device& device, ByteReceiver receiver) = 0;

private:
    std::string NoDeviceText(std::size_t device) const {
        return library_ + " の入力デバイス " + std::to_string(device) + " はありません";
    }

    std::string library_;
    std::vector<Device> devices_;
    std::string unanswered_;
};

}  // namespace midi
