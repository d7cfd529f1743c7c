#include "CGuardedTcpServer.h"

#include "ListenAddress.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace cli {

namespace {

bool IsOutOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

std::string ErrorText(int error) {
    return std::system_category().message(error);
}

} // namespace

CGuardedTcpServer::CGuardedTcpServer(IConnectionSink& sink) : m_sink(sink) {
    TopUpReserve();
    m_acceptRetry.setSingleShot(true);
    connect(&m_acceptRetry, &QTimer::timeout, this, [this] {
        for (const Listener& listener : m_listeners)
            listener.notifier->setEnabled(true);
    });
}

CGuardedTcpServer::~CGuardedTcpServer() = default;

std::optional<std::string> CGuardedTcpServer::Listen(const ListenAddress& address) {
    const int family = address.address.ss_family;
    UniqueFd listener(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener)
        return ErrorText(errno);
    const int on = 1;
    // A restarted monitor binds its port again while the last one's connections wait out TIME_WAIT.
    ::setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6)
        ::setsockopt(listener.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0 ||
        ::listen(listener.Get(), kListenBacklog) != 0)
        return ErrorText(errno);
    Adopt(std::move(listener));
    return std::nullopt;
}

void CGuardedTcpServer::Adopt(UniqueFd listener) {
    const int fd = listener.Get();
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this, fd] { AcceptReady(fd); });
    m_listeners.push_back({std::move(listener), std::move(notifier)});
}

std::vector<ListenAddress> CGuardedTcpServer::Addresses() const {
    std::vector<ListenAddress> addresses;
    for (const Listener& listener : m_listeners)
        addresses.push_back(LocalAddressOf(listener.socket.Get()).value_or(ListenAddress{}));
    return addresses;
}

void CGuardedTcpServer::AcceptReady(int listener) {
    for (int accepted = 0; accepted < kAcceptsPerTurn;) {
        if (m_sink.OpenConnections() >= kMaxConnections && !m_sink.EvictIdlest()) {
            PauseAccepting();
            return;
        }
        UniqueFd socket(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (socket) {
            m_sink.Adopt(std::move(socket));
            ++accepted;
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED)
            continue;
        if (!IsOutOfDescriptors(error))
            break; // EAGAIN: nothing more waiting
        if (m_sink.EvictIdlest())
            continue;
        if (!m_reserve.empty()) {
            m_reserve.pop_back();
            continue;
        }
        // Nothing of ours left to give: try again a little later.
        PauseAccepting();
        return;
    }
    TopUpReserve();
}

void CGuardedTcpServer::PauseAccepting() {
    for (const Listener& listener : m_listeners)
        listener.notifier->setEnabled(false);
    m_acceptRetry.start(kAcceptRetryMs);
}

void CGuardedTcpServer::TopUpReserve() {
    while (m_reserve.size() < kReserveDescriptors) {
        UniqueFd spare(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!spare.IsValid())
            return;
        m_reserve.push_back(std::move(spare));
    }
}

} // namespace cli
