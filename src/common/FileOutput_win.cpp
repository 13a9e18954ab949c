#include "common/FileOutput.h"

#include <windows.h>

namespace kelvane {

// Windows error codes are the file-error codes themselves (2 file not found, 3 path not found,
// 4 too many open files, 5 access denied); a full disk reads as such, every other code as its
// number.
EInOutError SystemError(int systemCode) {
    if (systemCode == ERROR_DISK_FULL || systemCode == ERROR_HANDLE_DISK_FULL) return EInOutError(DiskFullCode);
    return EInOutError(systemCode);
}

}  // namespace kelvane
