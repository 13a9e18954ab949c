// The Windows platform service: WinMM, which every Windows MIDI output device appears in.

#include "midi/WinMmOutput.h"

namespace midi {

std::unique_ptr<OutputService> MakePlatformOutputService() { return MakeWinMmOutputService(); }

}  // namespace midi
