#pragma once
// Several input services shown as one source list, as CombinedOutputService does for outputs
// (both are CombinedParts, ServiceShape.h).

#include <memory>
#include <vector>

#include "midi/InputService.h"
#include "midi/ServiceShape.h"

namespace midi {

class CombinedInputService final : public InputService {
public:
    explicit CombinedInputService(std::vector<std::unique_ptr<InputService>> parts);

    std::size_t CountDevices() override;
    std::string DeviceName(std::size_t device) override;
    InputOpenResult Open(std::size_t device, ByteReceiver receiver) override;
    std::string UnansweredText() const override;

private:
    CombinedParts<InputService> parts_;
};

}  // namespace midi
