#include "CSignalWatcher.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

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

} // namespace

CSignalWatcher::CSignalWatcher(std::function<void()> onStop, std::function<void()> onReload)
    : m_onStop(std::move(onStop)), m_onReload(std::move(onReload)) {
    const sigset_t set = WatchedSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_signals.Reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!IsValid())
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_signals.Get(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { Read(); });
}

CSignalWatcher::~CSignalWatcher() {
    m_notifier.reset(); // before the descriptor it watches
}

void CSignalWatcher::Read() {
    signalfd_siginfo info{};
    while (::read(m_signals.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGHUP)
            m_onReload();
        else
            m_onStop(); // a second stop asks again; the first one is already under way
    }
}

} // namespace cli
