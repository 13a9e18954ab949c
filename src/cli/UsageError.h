#pragma once

#include <stdexcept>
#include <string>

namespace cli {

// Arguments that do not form a command. The text says what is wrong, in English like the
// usage line printed after it; the exit status is 2.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& reason) : std::runtime_error(reason) {}
};

}  // namespace cli
