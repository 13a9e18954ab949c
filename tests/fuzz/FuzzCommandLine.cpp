// libFuzzer target for kelvane-cli's argument parsers: any arguments either parse or fail with a
// usage error, never otherwise; a message list parses exactly when a plain reading of its rules
// accepts it, to the same ranges, and expands only to indexes of stored messages.
//
// Input: arguments separated by NUL bytes. The first byte also picks a stored message count.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/MessageSelection.h"
#include "common/Failure.h"

namespace {

// Names the failed comparison: the crash file alone does not say which one it was.
#define Check(condition) CheckAt(condition, #condition, __LINE__)

void CheckAt(bool condition, const char* text, int line) {
    if (condition) return;
    std::fprintf(stderr, "check failed at line %d: %s\n", line, text);
    std::abort();
}

// Digits only, at least one, within 32 bits.
std::optional<std::uint32_t> PlainNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// Items separated by ',', each "N" or "N-M" with N <= M.
std::optional<std::vector<cli::MessageRange>> PlainMessageSelection(std::string_view text) {
    std::vector<cli::MessageRange> ranges;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const std::size_t dash = item.find('-');
        const auto first = PlainNumber(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : PlainNumber(item.substr(dash + 1));
        if (!first || !last || *last < *first) return std::nullopt;
        ranges.push_back({*first, *last});
        if (comma == std::string_view::npos) return ranges;
        text.remove_prefix(comma + 1);
    }
}

void CheckMessageSelection(std::string_view text, int storedCount) {
    std::optional<std::vector<cli::MessageRange>> parsed;
    try {
        parsed = cli::ParseMessageSelection(text);
    } catch (const cli::UsageError&) {
    }
    const auto plain = PlainMessageSelection(text);
    Check(parsed.has_value() == plain.has_value());
    if (!parsed) return;
    Check(*parsed == *plain);

    std::uint64_t wanted = 0;
    bool inStore = true;
    for (const auto& range : *parsed) {
        wanted += std::uint64_t{range.last} - range.first + 1;
        inStore = inStore && range.first >= 1 && range.last <= static_cast<std::uint32_t>(storedCount);
    }
    try {
        const std::vector<int> indexes = cli::MessageIndexes(*parsed, storedCount);
        Check(inStore && indexes.size() == wanted);
        std::size_t at = 0;
        for (const auto& range : *parsed)
            for (std::uint64_t number = range.first; number <= range.last; ++number)
                Check(indexes[at++] == static_cast<int>(number) - 1);
    } catch (const kelvane::Failure&) {
        Check(!inStore);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int storedCount = data[0] % 16;  // small, so that expanded lists stay small
    std::vector<std::string> args;
    std::string current;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    args.push_back(current);

    try {
        const cli::Invocation invocation = cli::ParseCommandLine(args);
        // A second reading of the same arguments gives the same answer.
        const cli::Invocation again = cli::ParseCommandLine(args);
        Check(invocation.kind == again.kind && invocation.dumpPath == again.dumpPath &&
              invocation.outputPath == again.outputPath && invocation.messages == again.messages &&
              invocation.port == again.port && invocation.gapMs == again.gapMs &&
              invocation.joined == again.joined && invocation.format == again.format);
    } catch (const cli::UsageError&) {
    }
    for (const std::string& arg : args) CheckMessageSelection(arg, storedCount);
    return 0;
}
