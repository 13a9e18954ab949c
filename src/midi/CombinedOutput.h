#pragma once
// Several output services shown as one device list: the devices of the first service, then
// those of the second, and so on. This is how a platform offers more than one MIDI system. The
// input side has the same shape (CombinedParts, ServiceShape.h).

#include <memory>
#include <vector>

#include "midi/OutputService.h"
#include "midi/ServiceShape.h"

namespace midi {

class CombinedOutputService final : public OutputService {
public:
    explicit CombinedOutputService(std::vector<std::unique_ptr<OutputService>> parts);

    std::size_t CountDevices() override;
    std::string DeviceName(std::size_t device) override;
    OpenResult Open(std::size_t device) override;
    std::string UnansweredText() const override;

private:
    CombinedParts<OutputService> parts_;
};

}  // namespace midi
