#include "AbortableThread.h"

#include "UniqueFd.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

struct AbortableThreadControl {
    UniqueFd abortFd;                 // eventfd; readable once the thread has been stopped by force
    std::atomic<bool> aborted{false}; // set together with abortFd
    bool routineReturned = false;     // under the stop lock: a stop must not act any more
    std::atomic<bool> ended{false};   // the record is freed
};

namespace {

// The facility's private abort. Deliberately not a std::exception, so that handlers for
// ordinary failures in a routine let it pass; only the thread's entry catches it.
struct AbortableThreadAbort {};

// The record of the abortable thread this is, null on every other thread.
thread_local AbortableThreadRecord* t_record = nullptr;

[[noreturn]] void RaiseAbort() {
    throw AbortableThreadAbort{};
}

void* AbortableThreadEntry(void* argument) {
    std::unique_ptr<AbortableThreadRecord> record(static_cast<AbortableThreadRecord*>(argument));
    const AbortableThreadRef control = record->hThread;
    t_record = record.get();

    try {
        // The routine's result has no reader: a stopped routine has none, so none is relied on.
        (void)record->pfnRoutine();
    } catch (const AbortableThreadAbort&) {
    }
    {
        // From here on a stop leaves the thread alone.
        std::lock_guard<std::mutex> stopLock(*record->hStopLock);
        control->routineReturned = true;
    }
    t_record = nullptr;
    record.reset();
    control->ended = true;
    return nullptr;
}

} // namespace

AbortableThreadHandle* StartAbortableThread(std::size_t stackSize, AbortableRoutine routine, void* argument) {
    return StartAbortableThread([routine, argument] { return routine(argument); }, stackSize);
}

AbortableThreadHandle* StartAbortableThread(std::function<unsigned int()> routine, std::size_t stackSize) {
    auto control = std::make_shared<AbortableThreadControl>();
    control->abortFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!control->abortFd)
        return nullptr;

    auto record = std::make_unique<AbortableThreadRecord>();
    record->hThread = control;
    record->hStopLock = std::make_shared<std::mutex>();
    record->hNoAbortLock = std::make_shared<std::mutex>();
    record->hStopEvent = std::make_shared<AbortableStopEvent>();
    record->pfnRoutine = std::move(routine);

    auto handle = std::make_unique<AbortableThreadHandle>();
    handle->hThread = control;
    handle->hStopLock = record->hStopLock;
    handle->hNoAbortLock = record->hNoAbortLock;
    handle->hStopEvent = record->hStopEvent;

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return nullptr;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0)
        pthread_attr_setstacksize(&attr, stackSize);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, AbortableThreadEntry, record.get());
    pthread_attr_destroy(&attr);
    if (rc != 0)
        return nullptr;
    record.release(); // the thread owns it now
    return handle.release();
}

int IsAbortableThreadRunning(const AbortableThreadRef& hThread) {
    return hThread && !hThread->ended ? 1 : 0;
}

void StopAbortableThread(AbortableThreadHandle* handle) {
    if (!handle || !handle->hThread)
        return;
    std::lock_guard<std::mutex> stopLock(*handle->hStopLock);
    std::unique_lock<std::mutex> noAbort(*handle->hNoAbortLock, std::try_to_lock);
    if (!noAbort.owns_lock()) {
        handle->hStopEvent->set = true;
        return;
    }
    AbortableThreadControl& control = *handle->hThread;
    if (control.routineReturned || control.aborted)
        return;
    control.aborted = true;
    const std::uint64_t one = 1;
    // An eventfd write of 1 cannot fail short of counter overflow, which one stop cannot reach.
    [[maybe_unused]] const ssize_t written = ::write(control.abortFd.Get(), &one, sizeof one);
}

void ReleaseAbortableThread(AbortableThreadHandle* handle) {
    std::unique_ptr<AbortableThreadHandle> owned(handle);
}

void AbortableCheckpoint() {
    if (t_record && t_record->hThread->aborted)
        RaiseAbort();
}

int AbortablePoll(pollfd* fds, nfds_t count, int timeoutMs) {
    if (!t_record)
        return ::poll(fds, count, timeoutMs);
    AbortableCheckpoint();

    // The caller's fds plus the stop descriptor last; a small array covers every caller here.
    constexpr nfds_t kInline = 8;
    pollfd inlineFds[kInline + 1];
    std::vector<pollfd> heapFds;
    pollfd* all = inlineFds;
    if (count > kInline) {
        heapFds.resize(count + 1);
        all = heapFds.data();
    }
    for (nfds_t i = 0; i < count; ++i)
        all[i] = fds[i];
    all[count] = pollfd{t_record->hThread->abortFd.Get(), POLLIN, 0};

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int wait = timeoutMs;
    for (;;) {
        const int rc = ::poll(all, count + 1, wait);
        if (rc < 0 && errno != EINTR)
            return -1;
        if (rc > 0) {
            if (all[count].revents != 0)
                RaiseAbort();
            int ready = 0;
            for (nfds_t i = 0; i < count; ++i) {
                fds[i].revents = all[i].revents;
                ready += all[i].revents != 0 ? 1 : 0;
            }
            return ready;
        }
        if (rc == 0 && timeoutMs >= 0) {
            for (nfds_t i = 0; i < count; ++i)
                fds[i].revents = 0;
            return 0;
        }
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

AbortableNoInterrupt::AbortableNoInterrupt() {
    if (!t_record)
        return;
    m_lock = t_record->hNoAbortLock;
    m_lock->lock();
    // A stop that came first has already interrupted us: honour it rather than run unprotected.
    if (t_record->hThread->aborted) {
        m_lock->unlock();
        m_lock.reset();
        RaiseAbort();
    }
}

AbortableNoInterrupt::~AbortableNoInterrupt() {
    if (m_lock)
        m_lock->unlock();
}
