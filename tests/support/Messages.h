#pragma once
// Building SysEx test messages and dumps.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// F0, `total - 2` data bytes, F7: `total` bytes in all (at least 2), so its stored length is
// total - 1. The data bytes depend on their place and on `seed`, with a step every 128 bytes,
// so a byte or a whole block lost, doubled or swapped shows as a mismatch, and messages of
// different seeds (taken modulo 128) differ in every data byte.
Bytes PatternMessage(std::size_t total, unsigned seed);

// F0, `total - 2` copies of `fill` (a data byte, below 80 hex), F7.
Bytes FilledMessage(std::size_t total, std::uint8_t fill);

// The messages one after another, as a dump file holds them.
Bytes Concat(const std::vector<Bytes>& parts);

// Appends `bytes` to `to`, for dumps and expectations built up one message at a time.
void Append(Bytes& to, const Bytes& bytes);

// A message to send after everything a test expects, through the same port or a port of the
// same device opened afterwards: ports deliver in order, so once it has arrived nothing sent
// before it is still on its way, and no sleep is needed to let stray bytes come in. Each call
// gives bytes no earlier call gave, so a marker that arrived before is never taken for it.
// (7D is the manufacturer number kept for non-commercial use; no test sends these otherwise.)
Bytes NewEndMarker();

// The bytes before `marker` when `received` ends with it; nothing otherwise.
std::optional<Bytes> BeforeEndMarker(const Bytes& received, const Bytes& marker);

}  // namespace testsupport
