#include "sysex/DumpFile.h"

#include "common/Failure.h"

namespace sysex {

std::string CannotOpenText(const std::string& pathUtf8) {
    return kelvane::FormatText("ファイル %s は開けません", pathUtf8);
}

}  // namespace sysex
