#include "common/FileOutput.h"

namespace kelvane {

EInOutError SystemError(int systemCode) { return EInOutError::FromErrno(systemCode); }

}  // namespace kelvane
