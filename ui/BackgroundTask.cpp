#include "BackgroundTask.h"

#include <QEventLoop>
#include <exception>
#include <thread>

namespace ui {

void RunBesideEventLoop(const std::function<void()>& work) {
    QEventLoop loop;
    std::exception_ptr error;
    {
        // Declared after the loop, so the thread is joined before the loop goes.
        std::jthread worker([&] {
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
            // Queued: reaches the loop even when it has not started yet.
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
    }
    if (error)
        std::rethrow_exception(error);
}

} // namespace ui
