#pragma once

#include "UniqueFd.h"

#include <functional>
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

    std::function<void()> m_onStop;
    std::function<void()> m_onReload;
    UniqueFd m_signals; // signalfd
    UniqueFd m_quit;    // eventfd: the watcher is being destroyed
    std::thread m_thread;
};

} // namespace cli
