#pragma once
// Several output services shown as one device list: the devices of the first service, then
// those of the second, and so on. This is how a platform offers more than one MIDI system.

#include <memory>
#include <vector>

#include "midi/OutputService.h"

namespace midi {

class CombinedOutputService final : public OutputService {
public:
    explicit CombinedOutputService(std::vector<std::unique_ptr<OutputService>> parts);

    std::size_t CountDevices() override;
    std::string DeviceName(std::size_t device) override;
    OpenResult Open(std::size_t device) override;
    std::string UnansweredText() const override;

private:
    struct Route {
        OutputService* service;
        std::size_t device;
    };
    // The part that holds a device of the list counted last; no service when out of range.
    Route Find(std::size_t device) const;

    std::vector<std::unique_ptr<OutputService>> parts_;
    std::vector<std::size_t> counts_;
};

}  // namespace midi
