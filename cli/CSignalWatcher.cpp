#include "CSignalWatcher.h"

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

constexpr unsigned kReloadRequest = 1;
constexpr unsigned kStopRequest = 2;

// Waits up to timeoutMs for fd to become readable; true when it did.
bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int n;
    while ((n = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return n > 0;
}

} // namespace

CSignalWatcher::CSignalWatcher(std::function<void()> onStop, std::function<void()> onReload)
    : m_onStop(std::move(onStop)), m_onReload(std::move(onReload)) {
    const sigset_t set = WatchedSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_signals.Reset(::signalfd(-1, &set, SFD_CLOEXEC));
    m_quit.Reset(::eventfd(0, EFD_CLOEXEC));
    m_wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!IsValid() || !m_wake.IsValid())
        return;
    m_wakeNotifier = std::make_unique<QSocketNotifier>(m_wake.Get(), QSocketNotifier::Read);
    QObject::connect(m_wakeNotifier.get(), &QSocketNotifier::activated, [this] { OnWake(); });
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
            Post(kReloadRequest);
            continue;
        }
        Post(kStopRequest);
        if (!WaitReadable(m_quit.Get(), kStopDeadlineMs))
            ::_exit(0); // files are replaced atomically and log lines written whole: nothing is torn
        return;
    }
}

void CSignalWatcher::Post(unsigned request) {
    m_requests.fetch_or(request);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wake.Get(), &one, sizeof one);
}

// On the main thread's event loop, also while that loop is a nested one (a pass).
void CSignalWatcher::OnWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_wake.Get(), &count, sizeof count);
    const unsigned requests = m_requests.exchange(0);
    if ((requests & kReloadRequest) && m_onReload)
        m_onReload();
    if ((requests & kStopRequest) && m_onStop)
        m_onStop();
}

} // namespace cli
