#include "midi/RegFileStore.h"

namespace midi {

std::unique_ptr<RegistryStore> MakePlatformRegistryStore() { return std::make_unique<RegFileStore>(); }

}  // namespace midi
