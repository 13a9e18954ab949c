#pragma once
// Where a capture goes when its target refused it at the last moment: the user may have
// recorded the only copy of a device's memory, so it is written somewhere rather than lost.

#include <string>

namespace cli {

// Writes the store as a dump to a new file beside `targetPath` ("NAME.recovered.syx",
// "NAME.recovered-2.syx", ...) or, when that folder refuses, to the temporary folder
// ("kelvane-recovered-PID.syx", ...). Returns the path written, or empty when both refused.
// Never overwrites a file.
std::string SaveRecoveryDump(const std::string& targetPath);

}  // namespace cli
