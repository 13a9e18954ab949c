#include "midi/BackendFailure.h"

namespace midi {

namespace {

std::string FailureText(std::string_view library, std::string_view operation,
                        std::string_view reason) {
    std::string text;
    text.append(library).append(" の ").append(operation).append(" が失敗しました");
    if (!reason.empty()) text.append(" (").append(reason).append(")");
    return text;
}

}  // namespace

BackendFailure::BackendFailure(std::string_view library, std::string_view operation,
                               std::string_view reason, int code)
    : kelvane::Failure(FailureText(library, operation, reason)), code_(code) {}

}  // namespace midi
