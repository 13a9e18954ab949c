#pragma once
// Ctrl+C (and a polite kill) while a reception or a transmission runs: instead of ending the
// program at once, the request is noted, and the command stops where nothing is lost or cut:
// a reception keeps every complete message, a transmission sends no further message. A second
// Ctrl+C (or SIGTERM) ends the process at once, as if none had been caught. A signal the
// process was started to ignore (nohup, a background job) stays ignored.

#include <chrono>

namespace cli {

class InterruptCatcher {
public:
    // Catches SIGINT and SIGTERM from now on; the previous handlers come back on destruction.
    // One catcher at a time.
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    // Whether an interrupt has come since this catcher was made. Any thread may ask.
    bool Requested() const;

    // Waits until an interrupt comes or `timeout` has passed; whether one came.
    bool WaitFor(std::chrono::milliseconds timeout) const;
};

}  // namespace cli
