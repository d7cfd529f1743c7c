#include "CGuardedTcpServer.h"

#include "ListenAddress.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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

CGuardedTcpServer::CGuardedTcpServer(CHttpConnection::Responder respond) : m_respond(std::move(respond)) {
    TopUpReserve();
    m_acceptRetry.setSingleShot(true);
    connect(&m_acceptRetry, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
    });
}

CGuardedTcpServer::~CGuardedTcpServer() {
    // Before m_respond goes, which they answer through.
    const QObjectList connections = children();
    qDeleteAll(connections);
}

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
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return ErrorText(errno);
    m_port = ntohs(family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                                      : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    m_listener = std::move(listener);
    m_acceptNotifier = std::make_unique<QSocketNotifier>(m_listener.Get(), QSocketNotifier::Read);
    connect(m_acceptNotifier.get(), &QSocketNotifier::activated, this, [this] { AcceptReady(); });
    return std::nullopt;
}

void CGuardedTcpServer::AcceptReady() {
    for (int accepted = 0; accepted < kAcceptsPerTurn;) {
        if (m_connections.size() >= kMaxConnections && !EvictIdlest()) {
            PauseAccepting();
            return;
        }
        UniqueFd socket(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (socket) {
            Adopt(std::move(socket));
            ++accepted;
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED)
            continue;
        if (!IsOutOfDescriptors(error))
            break; // EAGAIN: nothing more waiting
        if (EvictIdlest())
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

void CGuardedTcpServer::Adopt(UniqueFd socket) {
    auto* connection = new CHttpConnection(std::move(socket), {kMaxRequestBytes, kConnectionLifetimeMs}, m_respond,
                                           [this](CHttpConnection* ended) { Ended(ended); });
    connection->setParent(this);
    m_connections.push_back(connection);
}

bool CGuardedTcpServer::EvictIdlest() {
    const auto idlest = std::min_element(m_connections.begin(), m_connections.end(),
                                         [](auto* a, auto* b) { return a->LastActive() < b->LastActive(); });
    if (idlest == m_connections.end())
        return false;
    (*idlest)->Drop();
    return true;
}

void CGuardedTcpServer::PauseAccepting() {
    m_acceptNotifier->setEnabled(false);
    m_acceptRetry.start(kAcceptRetryMs);
}

void CGuardedTcpServer::Ended(CHttpConnection* connection) {
    std::erase(m_connections, connection);
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
