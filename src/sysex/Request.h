#pragma once
// A request: the one message sent to a device to make it send its dump. Typed in by hand (hex)
// or taken from the loaded messages, it must be a whole SysEx message, since a device that
// receives anything else either ignores it or, worse, takes it for something else.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sysex {

// Why `message` cannot be sent as a request, in the UI's language; empty when it can: F0 first,
// F7 last, data bytes (below 80H) between, and no longer than a stored message.
std::string RequestProblem(std::span<const std::uint8_t> message);

// Requests are a handful of bytes (an identity request is 6, a dump request a few more). A
// loaded message longer than this is far more likely data than a request: sent as one, it would
// overwrite what the device holds.
inline constexpr std::size_t LongestPlausibleRequest = 32;

struct ParsedRequest {
    std::vector<std::uint8_t> bytes;
    std::string problem;  // empty when `bytes` is a request that can be sent
};

// Reads hexadecimal bytes ("F0 7E 7F 06 01 F7"; spaces, commas and line breaks separate them,
// and a run of digits with no separator is read in pairs, "F07E7F0601F7") and checks them as a
// request.
ParsedRequest ParseRequestHex(std::string_view text);

}  // namespace sysex
