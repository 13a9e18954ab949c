// Entry point of the guest program. The host learns the outcome only from the serial console,
// and qemu's exit status says nothing, so the last thing printed is one result line that
// scripts/test-alsa-vm looks for. A crash prints no such line, which the script counts as
// failure.

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Counts over every round of GTEST_REPEAT: the unit test's own counts hold only the last round,
// which would let a failure in an earlier round end in "fail=0".
class Tally : public testing::EmptyTestEventListener {
public:
    int passed = 0;
    int failed = 0;

private:
    void OnTestEnd(const testing::TestInfo& test) override {
        if (test.result()->Failed()) {
            ++failed;
        } else if (test.result()->Passed() && !test.result()->Skipped()) {
            ++passed;
        }
    }
    // Failures outside any test (in a suite's set-up, say) belong to no test.
    void OnTestIterationEnd(const testing::UnitTest& run, int) override {
        if (run.ad_hoc_test_result().Failed()) ++failed;
    }
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The serial console is no terminal; colour codes would only clutter the host's log.
    GTEST_FLAG_SET(color, "no");
    auto* tally = new Tally;  // the listener list owns it
    testing::UnitTest::GetInstance()->listeners().Append(tally);
    const int status = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::printf("RESULT pass=%d fail=%d\n", tally->passed, tally->failed + (status != 0 && tally->failed == 0 ? 1 : 0));
    std::fflush(stdout);
    return status;
}
