// Entry point of the guest program. The host learns the outcome only from the serial console,
// and qemu's exit status says nothing, so the last thing printed is one result line that
// scripts/test-alsa-vm looks for. A crash prints no such line, which the script counts as
// failure.

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The serial console is no terminal; colour codes would only clutter the host's log.
    GTEST_FLAG_SET(color, "no");
    const int status = RUN_ALL_TESTS();
    const testing::UnitTest& run = *testing::UnitTest::GetInstance();
    std::fflush(stdout);
    std::printf("RESULT pass=%d fail=%d\n", run.successful_test_count(),
                run.failed_test_count() + (run.ad_hoc_test_result().Failed() ? 1 : 0));
    std::fflush(stdout);
    return status;
}
