// The Windows platform's input service: WinMM, which every Windows MIDI input device appears in.

#include "midi/winmm/WinMmInput.h"

namespace midi {

std::unique_ptr<InputService> MakePlatformInputService() { return MakeWinMmInputService(); }

}  // namespace midi
