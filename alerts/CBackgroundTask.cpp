#include "CBackgroundTask.h"

#include <QMetaObject>
#include <QThread>

#include <utility>

CBackgroundTask::CBackgroundTask(QObject* context, Work work, Ended ended) {
    m_thread = std::jthread([this, context, gone = m_bGone, work = std::move(work),
                             ended = std::move(ended)](std::stop_token stop) mutable {
        std::exception_ptr error;
        try {
            Run(stop, work);
        } catch (...) {
            error = std::current_exception();
        }
        // Queued: runs after this thread has let go of the task, and not at all once the task or
        // the context has gone.
        QMetaObject::invokeMethod(
            context,
            [gone = std::move(gone), ended = std::move(ended), error] {
                if (!gone->load())
                    ended(error);
            },
            Qt::QueuedConnection);
    });
}

CBackgroundTask::~CBackgroundTask() {
    m_bGone->store(true);
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
}

void CBackgroundTask::Run(const std::stop_token& stop, const Work& work) {
    {
        std::lock_guard lock(m_mutex);
        m_workerThread = QThread::currentThread();
        if (m_bStopRequested)
            m_workerThread->exit();
    }
    struct Unregister {
        CBackgroundTask& task;
        ~Unregister() {
            std::lock_guard lock(task.m_mutex);
            task.m_workerThread = nullptr;
        }
    } unregister{*this};
    work(stop);
}

void CBackgroundTask::RequestStop() {
    m_thread.request_stop();
    EndEventLoops();
}

void CBackgroundTask::EndEventLoops() {
    // QThread::exit ends the loops the worker runs now and makes every later one return at once;
    // the work sees its stop token and goes no further.
    std::lock_guard lock(m_mutex);
    m_bStopRequested = true;
    if (m_workerThread)
        m_workerThread->exit();
}
