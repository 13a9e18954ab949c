#pragma once
// Which port a user means by `--port` or `--out-port`: the number `ports` printed, or a name,
// whole or a part of it that only one port's name holds. Send and receive resolve their ports
// here, from one listing each made before anything is opened, so that a number means the port
// the user saw, and a number that listing did not show is refused.

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

enum class PortSide { Output, Input };

// `entries` as ReadPortEntries/ReadInputEntries gave them with whole names ("(None)" first).
// Returns the entry index (>= 1). Throws kelvane::Failure, in the UI's language, for 0, a
// number the listing did not show, a name no port has, and a part of a name that several ports
// have (naming them). A port not found in a listing with a gap (a server that did not answer)
// fails with the gap as its reason, since that is why it is missing.
std::uint32_t ResolvePort(const std::string& text, const std::vector<std::string>& entries, PortSide side,
                          const std::string& listingGap = {});

}  // namespace cli
