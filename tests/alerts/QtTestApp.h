#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace testsupport {

// The one application object of a Qt-based test executable, created on first use.
inline QCoreApplication& QtTestApp() {
    static int argc = 1;
    static char name[] = "pulsewick-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until done() holds or timeoutMs has passed; returns done().
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    QtTestApp();
    QDeadlineTimer deadline(timeoutMs);
    QTimer wakeUp; // bounds each wait for events, so the condition is looked at often
    wakeUp.start(10);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

} // namespace testsupport
