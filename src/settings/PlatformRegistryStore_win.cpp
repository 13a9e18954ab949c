#include "settings/WinRegistryStore.h"

namespace settings {

std::unique_ptr<RegistryStore> MakePlatformRegistryStore() { return std::make_unique<WinRegistryStore>(); }

}  // namespace settings
