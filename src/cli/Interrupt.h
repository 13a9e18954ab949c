#pragma once
// Ctrl+C (and a polite kill) while a reception runs: instead of ending the program at once, the
// request is noted, and the reception stops and keeps every complete message.

namespace cli {

class InterruptCatcher {
public:
    // Catches SIGINT and SIGTERM from now on; the previous handlers come back on destruction.
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    // Whether an interrupt has come since this catcher was made.
    bool Requested() const;
};

}  // namespace cli
