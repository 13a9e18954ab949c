#pragma once
// The common shape of the backends: CountDevices lists the devices afresh, DeviceName and Open
// refer to that list, and an open device becomes a QueuedPort. A backend says only how to list
// its devices, what a device is called, and how to make a port for one. The input side has the
// same shape (ListedInputService; both keep their list in a DeviceListing, ServiceShape.h).

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/Failure.h"
#include "midi/OutputService.h"
#include "midi/ServiceShape.h"

namespace midi {

template <typename Device>
class ListedOutputService : public OutputService {
public:
    explicit ListedOutputService(std::string library) : library_(std::move(library)) {}

    std::size_t CountDevices() final {
        return listing_.Refresh([this] { return List(); });
    }

    std::string DeviceName(std::size_t device) final {
        const Device* found = listing_.At(device);
        if (!found) throw kelvane::Failure(NoDeviceText(device));
        return NameOf(*found);
    }

    OpenResult Open(std::size_t device) final {
        return listing_.template OpenEntry<OpenResult>(device, NoDeviceText(device),
                                                       [this](const Device& found) { return OpenPort(found); });
    }

    std::string UnansweredText() const final { return listing_.Unanswered(); }

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
    DeviceListing<Device> listing_;
};

}  // namespace midi
