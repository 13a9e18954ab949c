// The Linux platform service: ALSA first, since every Linux MIDI device appears there, then
// JACK for software that only lives in a JACK graph.

#include "midi/CombinedOutput.h"
#include "midi/alsa/AlsaOutput.h"
#include "midi/jack/JackOutput.h"

namespace midi {

std::unique_ptr<OutputService> MakePlatformOutputService() {
    std::vector<std::unique_ptr<OutputService>> parts;
    parts.push_back(MakeAlsaOutputService());
    parts.push_back(MakeJackOutputService());
    return std::make_unique<CombinedOutputService>(std::move(parts));
}

}  // namespace midi
