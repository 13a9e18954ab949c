#include "settings/RegFileStore.h"

namespace settings {

std::unique_ptr<RegistryStore> MakePlatformRegistryStore() { return std::make_unique<RegFileStore>(); }

}  // namespace settings
