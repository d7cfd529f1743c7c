#include "CMetricsServer.h"

#include "MonitorMetrics.h"

#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

#include <memory>

namespace cli {

namespace {
// abort() alone leaves the object to whoever handles its disconnection; make sure it goes.
void Drop(QTcpSocket* socket) {
    socket->abort();
    socket->deleteLater();
}
} // namespace

CGuardedTcpServer::CGuardedTcpServer(QObject* parent) : QTcpServer(parent) {
    setListenBacklogSize(kListenBacklog);
}

void CGuardedTcpServer::incomingConnection(qintptr descriptor) {
    m_connections.removeIf([](const QPointer<QTcpSocket>& socket) { return socket.isNull(); });
    if (m_connections.size() >= kMaxConnections) {
        if (QTcpSocket* oldest = m_connections.takeFirst())
            Drop(oldest);
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(static_cast<int>(descriptor));
        return;
    }
    m_connections.append(socket);
    // Connected before the HTTP server's own handler, so this runs while the new bytes are
    // still unread: their count is what arrived since the last signal.
    auto received = std::make_shared<qint64>(0);
    connect(socket, &QTcpSocket::readyRead, socket, [socket, received] {
        *received += socket->bytesAvailable();
        if (*received > kMaxRequestBytes)
            Drop(socket);
    });
    QTimer::singleShot(kConnectionLifetimeMs, socket, [socket] { Drop(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    addPendingConnection(socket);
}

CMetricsServer::CMetricsServer(TextFn text) : m_tcp(new CGuardedTcpServer(&m_http)), m_text(std::move(text)) {
    m_http.route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get, [this] {
        const std::string body = m_text();
        return QHttpServerResponse(QByteArray(MonitorMetrics::kContentType),
                                   QByteArray(body.data(), static_cast<qsizetype>(body.size())));
    });
}

std::optional<std::string> CMetricsServer::Listen(const QHostAddress& address, std::uint16_t port) {
    if (!m_tcp->listen(address, port))
        return m_tcp->errorString().toStdString();
    m_http.bind(m_tcp);
    return std::nullopt;
}

std::uint16_t CMetricsServer::Port() const {
    return m_tcp->serverPort();
}

std::optional<ListenAddress> ParseListenAddress(const QString& text) {
    QString host = QStringLiteral("127.0.0.1");
    QString port = text;
    if (const qsizetype colon = text.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        if (host.isEmpty())
            host = QStringLiteral("127.0.0.1");
    }
    bool ok = false;
    const uint number = port.toUInt(&ok, 10);
    if (!ok || number > 65535 || port.trimmed() != port)
        return std::nullopt;
    ListenAddress address;
    address.port = static_cast<std::uint16_t>(number);
    if (host == QLatin1String("localhost"))
        address.host = QHostAddress(QHostAddress::LocalHost);
    else if (!address.host.setAddress(host))
        return std::nullopt;
    return address;
}

} // namespace cli
