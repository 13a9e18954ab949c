#pragma once
// Root ignores file permissions, and the tests run as root in CI. Permission cases therefore
// run their check in a forked child that has dropped to the unprivileged user "nobody".

#include <functional>
#include <optional>

namespace testsupport {

// Runs `check` in a child process; as user and group 65534 when the caller is root. Returns the
// child's exit status (check's result), or nothing when the child could not be run.
std::optional<int> RunUnprivileged(const std::function<int()>& check);

}  // namespace testsupport
