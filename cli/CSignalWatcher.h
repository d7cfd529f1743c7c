#pragma once

#include "UniqueFd.h"

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace cli {

// Receives SIGTERM, SIGINT and SIGHUP through a signalfd watched by the thread's event loop (the
// signals are blocked, so none interrupts a system call), which never waits for an alert, so a
// stop is taken at once. Construct it on the main thread, once the application object exists and
// before any other thread does, so every thread inherits the blocked signals; they stay blocked
// after it has gone, so a second SIGTERM during the stop cannot turn it into death by signal.
class CSignalWatcher {
public:
    CSignalWatcher(std::function<void()> onStop, std::function<void()> onReload);
    ~CSignalWatcher();
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;

    bool IsValid() const { return m_signals.IsValid(); }

private:
    void Read();

    std::function<void()> m_onStop;
    std::function<void()> m_onReload;
    UniqueFd m_signals; // signalfd
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace cli
