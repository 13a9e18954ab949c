#include "midi/WinRegistryStore.h"

namespace midi {

std::unique_ptr<RegistryStore> MakePlatformRegistryStore() { return std::make_unique<WinRegistryStore>(); }

}  // namespace midi
