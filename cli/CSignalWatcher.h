#pragma once

#include "UniqueFd.h"

#include <QSocketNotifier>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace cli {

// Receives SIGTERM, SIGINT and SIGHUP on a thread of its own (through signalfd, with the
// signals blocked everywhere else) and hands them to the main thread's event loop. A stop also
// starts a deadline: if the program has not ended kStopDeadlineMs later (the main thread may sit
// in an alert's blocking network call), the process ends with status 0 from here. Construct it
// before any other thread exists, so every thread inherits the blocked signals; they stay
// blocked after it has gone.
class CSignalWatcher {
public:
    static constexpr int kStopDeadlineMs = 800;

    // Both are called on the main thread.
    CSignalWatcher(std::function<void()> onStop, std::function<void()> onReload);
    ~CSignalWatcher();
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;

    bool IsValid() const { return m_signals.IsValid() && m_quit.IsValid(); }

private:
    void Run();
    // Wakes the main thread for a stop or a reload; the main thread then calls the handler.
    void Post(unsigned request);
    void OnWake();

    std::function<void()> m_onStop;
    std::function<void()> m_onReload;
    UniqueFd m_signals; // signalfd
    UniqueFd m_quit;    // eventfd: the watcher is being destroyed
    // The hand-over to the main thread: requests as bits, and an eventfd its loop watches. No Qt
    // object crosses threads, so the hand-over needs no synchronisation hidden inside Qt.
    std::atomic<unsigned> m_requests{0};
    UniqueFd m_wake;
    std::unique_ptr<QSocketNotifier> m_wakeNotifier;
    std::thread m_thread;
};

} // namespace cli
