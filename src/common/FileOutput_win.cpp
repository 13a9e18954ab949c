#include "common/FileOutput.h"

namespace kelvane {

// Windows error codes are the file-error codes themselves (2 file not found, 3 path not found,
// 4 too many open files, 5 access denied); every other code reads as its number.
EInOutError SystemError(int systemCode) { return EInOutError(systemCode); }

}  // namespace kelvane
