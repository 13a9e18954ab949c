#pragma once
// The numbers of kelvane-cli's arguments, read the same way by every option and operand.

#include <cstdint>
#include <string_view>

namespace cli {

// Decimal digits only, no sign, within 32 bits. Throws UsageError naming `what`.
std::uint32_t ParseNumber(std::string_view text, std::string_view what);

}  // namespace cli
