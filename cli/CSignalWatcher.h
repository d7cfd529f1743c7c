#pragma once

#include "UniqueFd.h"

#include <functional>
#include <thread>

namespace cli {

// Receives SIGTERM, SIGINT and SIGHUP on a thread of its own (through signalfd, with the
// signals blocked everywhere else) and hands them to the main thread's event loop, which never
// waits for an alert, so a stop is taken at once. Construct it before any other thread exists,
// so every thread inherits the blocked signals; they stay blocked after it has gone.
class CSignalWatcher {
public:
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
