#pragma once

#include "UniqueFd.h"

#include <QObject>
#include <QSocketNotifier>

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

class QThread;

// Work that may wait for a long time (an SMTP dialogue, a modem that takes its time) on a thread
// of its own, so the thread that starts it keeps turning its event loop. When the work has ended,
// `ended` runs on the context's thread, through its event loop, with what the work threw (null
// when nothing): the caller goes on from there instead of waiting in a nested loop, which any
// dialog opened meanwhile would hold open. `ended` may destroy the task.
//
// RequestStop asks the work to end early: its stop token is set, and a Qt event loop it runs
// returns at once (and every later one too), so a wait that sleeps in one ends. The destructor
// stops the work the same way and joins the thread; `ended` is then never called.
class CBackgroundTask {
public:
    using Work = std::function<void(std::stop_token stop)>;
    using Ended = std::function<void(std::exception_ptr error)>;

    // Starts the work at once; the context's thread must run a Qt event loop for `ended` to come.
    CBackgroundTask(QObject* context, Work work, Ended ended);
    ~CBackgroundTask();
    CBackgroundTask(const CBackgroundTask&) = delete;
    CBackgroundTask& operator=(const CBackgroundTask&) = delete;

    void RequestStop();

private:
    void Run(const std::stop_token& stop, const Work& work);
    void EndEventLoops();
    void WorkEnded(); // on the context's thread

    QObject* m_context;
    Ended m_ended;
    std::exception_ptr m_error; // written by the worker before it signals m_done
    // The worker's end reaches the context's thread through this descriptor, so everything the
    // task holds is used and let go on that thread only.
    UniqueFd m_done;
    std::unique_ptr<QSocketNotifier> m_doneNotifier;
    // Cleared when the task goes before its end was delivered: the end is dropped.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::mutex m_mutex;                // guards m_workerThread and m_bStopRequested
    QThread* m_workerThread = nullptr; // Qt's view of the worker while it runs
    bool m_bStopRequested = false;
    std::jthread m_thread; // last: joined before the members above go
};
