#pragma once
// Several input services shown as one source list, as CombinedOutputService does for outputs.

#include <memory>
#include <vector>

#include "midi/InputService.h"

namespace midi {

class CombinedInputService final : public InputService {
public:
    explicit CombinedInputService(std::vector<std::unique_ptr<InputService>> parts);

    std::size_t CountDevices() override;
    std::string DeviceName(std::size_t device) override;
    InputOpenResult Open(std::size_t device, ByteReceiver receiver) override;
    std::string UnansweredText() const override;

private:
    struct Route {
        InputService* service;
        std::size_t device;
    };
    Route Find(std::size_t device) const;

    std::vector<std::unique_ptr<InputService>> parts_;
    std::vector<std::size_t> counts_;
};

}  // namespace midi
