#pragma once

#include <poll.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

// A thread whose routine the starting thread can stop by force at any moment, even while the
// routine waits for the network. A stop does not kill the thread: the routine's next (or current)
// blocking wait throws the facility's private abort, which unwinds every frame up to the thread's
// entry, running the destructors of local objects (sockets and files are closed), and the thread
// then ends normally. Every blocking wait of a routine must therefore go through AbortablePoll.
//
// Calling order: start; poll IsAbortableThreadRunning; stop at most once; release exactly once.

struct AbortableThreadControl;

// The thread itself, as seen from outside: shared by both sides, lives until both have let go.
using AbortableThreadRef = std::shared_ptr<AbortableThreadControl>;

// The stop request: set by a stop that found the no-interrupt lock held; once set, stays set.
struct AbortableStopEvent {
    std::atomic<bool> set{false};
};

// Owned by the thread that called StartAbortableThread; freed by ReleaseAbortableThread.
struct AbortableThreadHandle {
    AbortableThreadRef hThread;
    std::shared_ptr<std::mutex> hStopLock;    // serialises stops
    std::shared_ptr<std::mutex> hNoAbortLock; // held by the routine while it must not be interrupted
    std::shared_ptr<AbortableStopEvent> hStopEvent;
};

// Owned by the started thread, which frees it when it ends.
struct AbortableThreadRecord {
    AbortableThreadRef hThread;
    std::shared_ptr<std::mutex> hStopLock;
    std::shared_ptr<std::mutex> hNoAbortLock;
    std::shared_ptr<AbortableStopEvent> hStopEvent;
    std::function<unsigned int()> pfnRoutine; // the routine with its argument bound
};

using AbortableRoutine = unsigned int (*)(void* argument);

// Starts routine(argument) on a new thread at once. stackSize 0 means the default. Returns null
// when the thread or its stop descriptor cannot be created.
AbortableThreadHandle* StartAbortableThread(std::size_t stackSize, AbortableRoutine routine, void* argument);
AbortableThreadHandle* StartAbortableThread(std::function<unsigned int()> routine, std::size_t stackSize = 0);

// Non-zero while the thread has not ended (its routine runs or it is unwinding after a stop).
int IsAbortableThreadRunning(const AbortableThreadRef& hThread);

// Stops the routine by force, or only sets the stop request while the routine holds the
// no-interrupt lock. Does nothing to a routine that has returned. Never waits for the thread.
void StopAbortableThread(AbortableThreadHandle* handle);

// Frees the handle block; the thread, running or not, keeps what it needs. Null is ignored.
void ReleaseAbortableThread(AbortableThreadHandle* handle);

struct AbortableThreadReleaser {
    void operator()(AbortableThreadHandle* handle) const { ReleaseAbortableThread(handle); }
};
using AbortableThreadPtr = std::unique_ptr<AbortableThreadHandle, AbortableThreadReleaser>;

// poll(2) that also wakes when the calling abortable thread is stopped, and then throws the
// facility's abort instead of returning. timeoutMs < 0 waits without limit; interrupted calls
// are resumed with the time that is left. Returns the number of fds with events, 0 on time-out,
// -1 with errno on failure. On any other thread it is plain poll.
int AbortablePoll(pollfd* fds, nfds_t count, int timeoutMs);

// Throws the abort when the calling abortable thread has been stopped; for long stretches of
// work without a blocking wait.
void AbortableCheckpoint();

// While it lives, the calling abortable thread cannot be interrupted: a stop only sets the stop
// request. Throws the abort when the thread was already stopped before the lock was taken.
class AbortableNoInterrupt {
public:
    AbortableNoInterrupt();
    ~AbortableNoInterrupt();
    AbortableNoInterrupt(const AbortableNoInterrupt&) = delete;
    AbortableNoInterrupt& operator=(const AbortableNoInterrupt&) = delete;

private:
    std::shared_ptr<std::mutex> m_lock;
};
