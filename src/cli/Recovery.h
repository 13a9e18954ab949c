#pragma once
// Where a capture goes when its target refused it at the last moment: the user may have
// recorded the only copy of a device's memory, so it is written somewhere rather than lost.

#include <string>

namespace cli {

// Writes the store as a dump to a new file beside `targetPath` ("NAME.recovered.syx",
// "NAME.recovered-2.syx", ...) or, when that folder refuses, is shared with other users (anyone
// may write there) or the target is no file (a device, a FIFO), to the user's own state folder
// (kelvane::UserStateFolder) under the same names. Returns the path written, or empty when both
// refused. Every file is created exclusively: never over an existing name, never through a link.
std::string SaveRecoveryDump(const std::string& targetPath);

}  // namespace cli
