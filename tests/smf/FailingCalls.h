#pragma once
// Makes one kind of system call of the test process fail with a chosen errno, or kill the
// process, for files under one folder only: the failures a disk, a quota or the kernel produce
// at the worst moment, each on demand. Linked into this test program only, whose own open,
// write, fsync and rename calls it stands in front of; disarmed, it passes every call on.

#include <string>

namespace testsupport {

enum class FailingCall {
    None,
    CreateTemporary,  // an open() that creates a ".kv-" file
    WriteFile,
    SyncFile,
    SyncFolder,
    Rename,
};

struct CallFailure {
    FailingCall call = FailingCall::None;
    int error = 0;     // the errno the call fails with
    int passed = 0;    // calls of this kind that succeed first
    bool kill = false;  // SIGKILL instead of failing
};

// Armed for calls on files under `folder` while it lives.
class FailingCallScope {
public:
    FailingCallScope(const CallFailure& failure, const std::string& folder);
    ~FailingCallScope();
    FailingCallScope(const FailingCallScope&) = delete;
    FailingCallScope& operator=(const FailingCallScope&) = delete;
};

}  // namespace testsupport
