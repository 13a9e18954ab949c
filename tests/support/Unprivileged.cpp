#include "Unprivileged.h"

#include <grp.h>
#include <unistd.h>

#include "ForkedChild.h"

namespace testsupport {

std::optional<int> RunUnprivileged(const std::function<int()>& check) {
    return RunInChild([&] {
        if (::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) return 125;
        }
        return check();
    });
}

}  // namespace testsupport
