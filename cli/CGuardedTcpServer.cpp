#include "CGuardedTcpServer.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace cli {

namespace {

// abort() alone leaves the object to whoever handles its disconnection; make sure it goes.
// abort() closes the descriptor at once.
void Drop(QTcpSocket* socket) {
    socket->abort();
    socket->deleteLater();
}

bool IsOutOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

} // namespace

CGuardedTcpServer::CGuardedTcpServer(QObject* parent) : QTcpServer(parent) {
    setListenBacklogSize(kListenBacklog);
    TopUpReserve();
    m_acceptRetry.setSingleShot(true);
    connect(&m_acceptRetry, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
    });
}

CGuardedTcpServer::~CGuardedTcpServer() {
    m_acceptNotifier.reset(); // before QTcpServer closes the descriptor it watches
}

bool CGuardedTcpServer::Listen(const QHostAddress& address, quint16 port) {
    if (!listen(address, port))
        return false;
    pauseAccepting();
    m_acceptNotifier = std::make_unique<QSocketNotifier>(socketDescriptor(), QSocketNotifier::Read);
    connect(m_acceptNotifier.get(), &QSocketNotifier::activated, this, [this] { AcceptReady(); });
    return true;
}

void CGuardedTcpServer::AcceptReady() {
    const int listener = static_cast<int>(socketDescriptor());
    for (int accepted = 0; accepted < kAcceptsPerTurn;) {
        const int descriptor = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            Adopt(descriptor);
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
        m_acceptNotifier->setEnabled(false);
        m_acceptRetry.start(kAcceptRetryMs);
        return;
    }
    TopUpReserve();
}

void CGuardedTcpServer::Adopt(int descriptor) {
    m_connections.removeIf([](const QPointer<QObject>& connection) { return connection.isNull(); });
    if (m_connections.size() >= kMaxConnections)
        EvictIdlest();
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(descriptor);
        return;
    }
    m_connections.append(socket);
    // Connected before the HTTP server's own handler, so this runs while the new bytes are
    // still unread: their count is what arrived since the last signal.
    auto received = std::make_shared<qint64>(0);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, received] {
        *received += socket->bytesAvailable();
        if (*received > kMaxRequestBytes)
            Drop(socket);
        else
            Touch(socket);
    });
    QTimer::singleShot(kConnectionLifetimeMs, socket, [socket] { Drop(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    addPendingConnection(socket);
    emit newConnection();
}

bool CGuardedTcpServer::EvictIdlest() {
    while (!m_connections.isEmpty()) {
        auto* idlest = qobject_cast<QTcpSocket*>(m_connections.takeFirst().data());
        if (idlest && idlest->state() != QAbstractSocket::UnconnectedState) {
            Drop(idlest);
            return true;
        }
    }
    return false;
}

void CGuardedTcpServer::Touch(QTcpSocket* socket) {
    const qsizetype at = m_connections.indexOf(static_cast<QObject*>(socket));
    if (at >= 0 && at + 1 < m_connections.size())
        m_connections.move(at, m_connections.size() - 1);
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
