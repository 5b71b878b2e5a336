#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
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

TEST(WorkerThread, AnAbandonedThreadMayOutliveItsObject)
{
    // A worker stuck in a frozen server's call is let go at stop; if the
    // server wakes up later the thread ends without touching freed memory
    // (the address sanitizer build checks that).
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    {
        WorkerThread t;
        ASSERT_EQ(t.start([release, finished] {
            while (!*release)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            *finished = true;
        }),
                  1);
        EXPECT_EQ(t.waitFor(20), 0);
        t.abandon();
        EXPECT_FALSE(t.running());
    } // no wait here
    *release = true;
    for (int i = 0; i < 1000 && !*finished; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(*finished);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

} // namespace
} // namespace quillet
