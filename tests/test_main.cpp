// The main function of every test program.
//
// A test program must fail when it does not reach its end: a test that
// calls a function which ends the process (with status 0, say) would
// otherwise skip every test after it and still pass. The guard below runs
// at process exit and turns any exit before RUN_ALL_TESTS has returned into
// a failure, except in the child process of a death test, whose exit is the
// thing under test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

bool g_reached_end = false;

void fail_unless_finished() {
    if (g_reached_end || testing::internal::InDeathTestChild()) return;
    std::fflush(stdout);
    std::fprintf(stderr,
                 "\nThe test program ended before all its tests had run (a test ended the "
                 "process).\n");
    _exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::atexit(fail_unless_finished);
    const int status = RUN_ALL_TESTS();
    g_reached_end = true;
    // A filter that matches nothing is a broken test command, not a pass.
    if (testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        std::fprintf(stderr, "No test ran.\n");
        return 1;
    }
    return status;
}
