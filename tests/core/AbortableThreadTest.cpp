#include "AbortableThread.h"
#include "SilentHostNamespace.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using testsupport::CountOpenFds;
using testsupport::CountThreads;
using testsupport::WaitForThreadCount;

namespace {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

bool WaitForEnd(const AbortableThreadHandle* handle) {
    return WaitUntil([handle] { return !IsAbortableThreadRunning(handle->hThread); });
}

// A pipe whose read end a routine can wait on for ever.
struct Pipe {
    Pipe() {
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
    }
    ~Pipe() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    int fds[2];
};

// Records that its destructor ran, as a socket or stream of a stopped worker must.
struct Witness {
    std::atomic<bool>* destroyed;
    ~Witness() { *destroyed = true; }
};

} // namespace

TEST(AbortableThread, RoutineThatReturnsGivesItsResultAndEnds) {
    static std::atomic<int> calls{0};
    static int argument = 7;
    AbortableThreadPtr thread(StartAbortableThread(
        0,
        [](void* arg) -> unsigned int {
            ++calls;
            return static_cast<unsigned int>(*static_cast<int*>(arg) * 6);
        },
        &argument));
    ASSERT_TRUE(thread);
    ASSERT_TRUE(WaitForEnd(thread.get()));
    EXPECT_EQ(calls, 1);

    // A stop after the end does nothing; release still frees the block.
    StopAbortableThread(thread.get());
    EXPECT_FALSE(IsAbortableThreadRunning(thread->hThread));
}

TEST(AbortableThread, StopInterruptsABlockingWaitAndUnwinds) {
    Pipe pipe;
    std::atomic<bool> waiting{false};
    std::atomic<bool> destroyed{false};
    std::atomic<bool> continued{false};
    const int fdsBefore = CountOpenFds();
    AbortableThreadPtr thread(StartAbortableThread([&]() -> unsigned int {
        Witness witness{&destroyed};
        pollfd wait{pipe.fds[0], POLLIN, 0};
        waiting = true;
        AbortablePoll(&wait, 1, -1);
        continued = true;
        return 5;
    }));
    ASSERT_TRUE(thread);
    ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
    std::this_thread::sleep_for(20ms); // let it reach poll

    const auto before = std::chrono::steady_clock::now();
    StopAbortableThread(thread.get());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "stop must not wait for the thread";
    ASSERT_TRUE(WaitForEnd(thread.get()));
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(continued);
    thread.reset();
    EXPECT_EQ(CountOpenFds(), fdsBefore);
}

TEST(AbortableThread, StopDuringNoInterruptOnlySetsTheRequest) {
    std::atomic<bool> locked{false};
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
    AbortableThreadPtr thread(StartAbortableThread([&]() -> unsigned int {
        {
            AbortableNoInterrupt guard;
            locked = true;
            while (!release)
                std::this_thread::sleep_for(1ms);
        }
        // Not stopped by force, so waits go on working as usual.
        pollfd none{-1, 0, 0};
        AbortablePoll(&none, 1, 1);
        finished = true;
        return 3;
    }));
    ASSERT_TRUE(thread);
    ASSERT_TRUE(WaitUntil([&] { return locked.load(); }));
    StopAbortableThread(thread.get());
    release = true;
    ASSERT_TRUE(WaitForEnd(thread.get()));
    EXPECT_TRUE(finished) << "the routine ran to its end";
}

TEST(AbortableThread, ReleaseBeforeTheStoppedThreadEndsIsSafe) {
    Pipe pipe;
    std::atomic<bool> waiting{false};
    std::atomic<bool> destroyed{false};
    AbortableThreadHandle* handle = StartAbortableThread([&]() -> unsigned int {
        Witness witness{&destroyed};
        pollfd wait{pipe.fds[0], POLLIN, 0};
        waiting = true;
        AbortablePoll(&wait, 1, -1);
        return 1;
    });
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
    AbortableThreadRef thread = handle->hThread;
    StopAbortableThread(handle);
    ReleaseAbortableThread(handle);
    ASSERT_TRUE(WaitUntil([&] { return !IsAbortableThreadRunning(thread); }));
    EXPECT_TRUE(destroyed);
    ReleaseAbortableThread(nullptr);
}

TEST(AbortableThread, PollOutsideAFacilityThreadIsPlainPoll) {
    Pipe pipe;
    pollfd wait{pipe.fds[0], POLLIN, 0};
    EXPECT_EQ(AbortablePoll(&wait, 1, 10), 0);
    ASSERT_EQ(::write(pipe.fds[1], "x", 1), 1);
    EXPECT_EQ(AbortablePoll(&wait, 1, 10), 1);
    EXPECT_TRUE(wait.revents & POLLIN);
    AbortableCheckpoint(); // no stop: nothing happens
}

TEST(AbortableThread, ThousandStartStopCyclesLeakNothing) {
    const int fdsBefore = CountOpenFds();
    const int threadsBefore = CountThreads();
    Pipe pipe;
    for (int i = 0; i < 1000; ++i) {
        std::atomic<bool> waiting{false};
        AbortableThreadPtr thread(StartAbortableThread([&]() -> unsigned int {
            pollfd wait{pipe.fds[0], POLLIN, 0};
            waiting = true;
            AbortablePoll(&wait, 1, -1);
            return 1;
        }));
        ASSERT_TRUE(thread);
        // Alternate between stopping in the wait and stopping right at the start.
        if (i % 2) {
            ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
        }
        StopAbortableThread(thread.get());
        ASSERT_TRUE(WaitForEnd(thread.get())) << "cycle " << i;
    }
    EXPECT_EQ(WaitForThreadCount(threadsBefore, 5000), threadsBefore);
    EXPECT_EQ(CountOpenFds(), fdsBefore + 2); // the pipe
}
