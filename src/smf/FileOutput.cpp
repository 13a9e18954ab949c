#include "smf/FileOutput.h"

namespace smf {

void WriteFileSafely(const std::string& pathUtf8, const std::uint8_t* data, std::size_t size,
                     SpecialTargets special) {
    OutputFile file(pathUtf8, special);
    file.Write(data, size);
    file.Close();
}

}  // namespace smf
