// The Linux platform's input service: ALSA's sources first, then JACK's, as for output.

#include "midi/CombinedInput.h"
#include "midi/alsa/AlsaInput.h"
#include "midi/jack/JackInput.h"

namespace midi {

std::unique_ptr<InputService> MakePlatformInputService() {
    std::vector<std::unique_ptr<InputService>> parts;
    parts.push_back(MakeAlsaInputService());
    parts.push_back(MakeJackInputService());
    return std::make_unique<CombinedInputService>(std::move(parts));
}

}  // namespace midi
