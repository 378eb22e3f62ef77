#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

#include "interfaces/Tickwise.h"
#include "utilon/FloatCheck.h"
#include "utilon/TimeTag.h"

namespace {

// Workers of every module check values and may change the time source at once.
TEST(ValuesThreaded, FloatChecksAndTimeSourceChangesFromManyThreads) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([i] {
            for (int n = 0; n < 200; ++n) {
                EXPECT_EQ(IsFpValid(std::numeric_limits<double>::infinity()), 0);
                EXPECT_EQ(IsFpValid(n), 1);
                if (n % 50 == 0) {
                    SetTimeSource("source " + std::to_string(i));
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(LastFpMessage(), "\n\nFPU: ----------------------->  positive infinity\n\n");
    EXPECT_EQ(CTickwise::GetTimeSource().rfind("source ", 0), 0u);
}

}  // namespace
