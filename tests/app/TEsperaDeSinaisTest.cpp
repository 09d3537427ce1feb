// The signal-waiting thread: a signal still pending when it is torn down must not end the process,
// and once it is gone the signals mean what they meant before.
#include <gtest/gtest.h>

#include <pthread.h>

#include <csignal>
#include <cstdlib>

#include "app/TEsperaDeSinais.h"

namespace ab::testing {
namespace {

// A SIGTERM sent to a thread that blocks it stays pending there: the waiting thread never takes
// it. Restoring the mask used to deliver it with its default action.
TEST(EsperaDeSinais, ASignalPendingAtTeardownIsDiscarded) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            {
                TEsperaDeSinais espera([](int) {});
                pthread_kill(pthread_self(), SIGTERM);
            }
            std::exit(7);
        },
        ::testing::ExitedWithCode(7), "");
}

TEST(EsperaDeSinais, AfterTeardownASignalHasItsDefaultActionAgain) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            {
                TEsperaDeSinais espera([](int) {});
            }
            std::raise(SIGTERM);
            std::exit(7);
        },
        ::testing::KilledBySignal(SIGTERM), "");
}

}  // namespace
}  // namespace ab::testing
