#include "CSignalWatcher.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace cli {

namespace {

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

// Runs fn on the main thread's event loop, also while that loop is a nested one (a pass).
void OnMainThread(const std::function<void()>& fn) {
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, fn, Qt::QueuedConnection);
}

} // namespace

CSignalWatcher::CSignalWatcher(std::function<void()> onStop, std::function<void()> onReload)
    : m_onStop(std::move(onStop)), m_onReload(std::move(onReload)) {
    const sigset_t set = WatchedSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_signals.Reset(::signalfd(-1, &set, SFD_CLOEXEC));
    m_quit.Reset(::eventfd(0, EFD_CLOEXEC));
    if (IsValid())
        m_thread = std::thread([this] { Run(); });
}

CSignalWatcher::~CSignalWatcher() {
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_quit.Get(), &one, sizeof one);
        m_thread.join();
    }
    // The signals stay blocked: the watcher goes when the program ends, and a second SIGTERM
    // arriving meanwhile must not turn a clean stop into death by signal.
}

void CSignalWatcher::Run() {
    pollfd fds[2] = {{m_signals.Get(), POLLIN, 0}, {m_quit.Get(), POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        signalfd_siginfo info{};
        if (::read(m_signals.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            continue;
        if (info.ssi_signo == SIGHUP) {
            OnMainThread(m_onReload);
            continue;
        }
        OnMainThread(m_onStop); // a second stop asks again; the first one is already under way
    }
}

} // namespace cli
