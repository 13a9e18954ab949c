#include "cli/Numbers.h"

#include <charconv>
#include <string>

#include "cli/UsageError.h"

namespace cli {

std::uint32_t ParseNumber(std::string_view text, std::string_view what) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    // from_chars would accept nothing at all as a prefix match; every character must be a digit.
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || stop != end || error == std::errc::invalid_argument) {
        throw UsageError(std::string(what) + " '" + std::string(text) + "' is not a number");
    }
    if (error == std::errc::result_out_of_range) {
        throw UsageError(std::string(what) + " '" + std::string(text) + "' is too large");
    }
    return value;
}

}  // namespace cli
