#include "CBackgroundTask.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include <utility>

CBackgroundTask::CBackgroundTask(QObject* context, Work work, Ended ended)
    : m_context(context), m_ended(std::move(ended)), m_done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_done.IsValid())
        throw std::system_error(errno, std::generic_category(), "cannot start background work");
    m_doneNotifier = std::make_unique<QSocketNotifier>(m_done.Get(), QSocketNotifier::Read);
    QObject::connect(m_doneNotifier.get(), &QSocketNotifier::activated, context, [this] { WorkEnded(); });
    m_thread = std::jthread([this, work = std::move(work)](std::stop_token stop) {
        try {
            Run(stop, work);
        } catch (...) {
            m_error = std::current_exception();
        }
        const std::uint64_t one = 1;
        while (::write(m_done.Get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
    });
}

CBackgroundTask::~CBackgroundTask() {
    *m_alive = false;
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
    m_doneNotifier.reset(); // before the descriptor it watches
}

void CBackgroundTask::WorkEnded() {
    m_doneNotifier->setEnabled(false);
    m_thread.join();
    // Posted, so that `ended` may destroy the task: the notifier is not destroyed from its own
    // signal.
    QMetaObject::invokeMethod(
        m_context,
        [alive = std::weak_ptr<bool>(m_alive), ended = std::move(m_ended), error = m_error] {
            if (const auto live = alive.lock(); live && *live)
                ended(error);
        },
        Qt::QueuedConnection);
}

void CBackgroundTask::Run(const std::stop_token& stop, const Work& work) {
    // The thread's event dispatcher (and the descriptor that wakes it) is made before the thread
    // is published under the mutex, so a stop from the starting thread finds it complete.
    if (QCoreApplication::instance())
        QEventLoop makesDispatcher;
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
