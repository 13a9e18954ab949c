// The Windows platform service: WinMM, which every Windows MIDI output device appears in.

#include "midi/winmm/WinMmOutput.h"

namespace midi {

std::unique_ptr<OutputService> MakePlatformOutputService() { return MakeWinMmOutputService(); }

// WinMM lists devices without a client to close.
void HoldListingCloses() {}
void ReleaseListingCloses() {}

}  // namespace midi
