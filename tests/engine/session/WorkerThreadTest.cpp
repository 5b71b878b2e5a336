#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/session/WorkerThread.h"

namespace quillet {
namespace {

TEST(WorkerThread, BoundedWaitReportsOverrunAndNeverKills)
{
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
    WorkerThread t;
    ASSERT_EQ(t.start([&] {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        finished = true;
    }),
              1);
    EXPECT_EQ(t.start([] {}), 0) << "one thread at a time";
    EXPECT_EQ(t.waitFor(50), 0);
    EXPECT_TRUE(t.running());
    EXPECT_FALSE(finished) << "the worker is not cut off";
    release = true;
    EXPECT_EQ(t.waitFor(5000), 1);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(t.running());
    EXPECT_EQ(t.waitFor(0), 1) << "nothing left to wait for";
    ASSERT_EQ(t.start([] {}), 1) << "reusable after the end";
    t.join();
}

} // namespace
} // namespace quillet
