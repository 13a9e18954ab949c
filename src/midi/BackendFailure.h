#pragma once
// How the backends report a failing platform call: one text that names the library, the
// operation and the library's own reason, plus the numeric code so that Open can pass it on.

#include <string>
#include <string_view>

#include "common/Failure.h"

namespace midi {

class BackendFailure : public kelvane::Failure {
public:
    BackendFailure(std::string_view library, std::string_view operation, std::string_view reason,
                   int code);
    int Code() const { return code_; }

private:
    int code_;
};

}  // namespace midi
