#pragma once
// Asking what is connected from the command line: the input opens first, then the Identity
// Request goes out, and every reply that arrives within the wait is kept.

#include <cstdint>
#include <string>
#include <vector>

#include "sysex/Identity.h"

namespace cli {

struct IdentifyRequest {
    std::uint32_t inputEntry = 0;   // entries of listings read (whole names) before this call
    std::string inputName;
    std::uint32_t outputEntry = 0;
    std::string outputName;
    std::uint32_t waitMs = 1000;
};

// Throws kelvane::Failure when a port cannot be opened or the request cannot be sent. Ctrl+C
// ends the wait early, with the answers that have come. Only what arrives after the request
// went out counts: a reply to an earlier run that comes late is no answer to this one.
sysex::IdentifyAnswers Identify(const IdentifyRequest& request);

// The answers as --json prints them, one line with its newline: "replies" (family and member
// also as the reply's bytes, "familyCode":"42 02") and "malformed" (each as its hex bytes).
std::string IdentifyAnswersJson(const sysex::IdentifyAnswers& answers);

}  // namespace cli
