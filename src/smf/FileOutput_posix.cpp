#include "smf/FileOutput.h"

namespace smf {

EInOutError SystemError(int systemCode) { return EInOutError::FromErrno(systemCode); }

}  // namespace smf
