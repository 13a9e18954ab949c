#pragma once
// The input side of ListedOutputService, of the same shape: CountDevices lists the sources
// afresh, DeviceName and Open refer to that list. A backend says only how to list its sources,
// what a source is called, and how to open one.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/Failure.h"
#include "midi/InputService.h"
#include "midi/ServiceShape.h"

namespace midi {

template <typename Device>
class ListedInputService : public InputService {
public:
    explicit ListedInputService(std::string library) : library_(std::move(library)) {}

    std::size_t CountDevices() final {
        return listing_.Refresh([this] { return List(); });
    }

    std::string DeviceName(std::size_t device) final {
        const Device* found = listing_.At(device);
        if (!found) throw kelvane::Failure(NoDeviceText(device));
        return NameOf(*found);
    }

    InputOpenResult Open(std::size_t device, ByteReceiver receiver) final {
        return listing_.template OpenEntry<InputOpenResult>(
            device, NoDeviceText(device),
            [this, &receiver](const Device& found) { return OpenPort(found, std::move(receiver)); });
    }

    std::string UnansweredText() const final { return listing_.Unanswered(); }

protected:
    // Throws BackendFailure when the library cannot be reached at all, with -ETIMEDOUT when it
    // did not answer.
    virtual std::vector<Device> List() = 0;
    virtual std::string NameOf(const Device& device) const = 0;
    // Throws BackendFailure when the source refuses.
    virtual std::unique_ptr<InputPort> OpenPort(const Device& device, ByteReceiver receiver) = 0;

private:
    std::string NoDeviceText(std::size_t device) const {
        return library_ + " の入力デバイス " + std::to_string(device) + " はありません";
    }

    std::string library_;
    DeviceListing<Device> listing_;
};

}  // namespace midi
