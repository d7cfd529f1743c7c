#include "CMetricsServer.h"

#include "CGuardedTcpServer.h"

#include "MonitorMetrics.h"

#include <QHttpServerRequest>
#include <QHttpServerResponse>

namespace cli {

CMetricsServer::CMetricsServer(TextFn text) : m_tcp(new CGuardedTcpServer(&m_http)), m_text(std::move(text)) {
    m_http.route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get, [this] {
        const std::string body = m_text();
        return QHttpServerResponse(QByteArray(MonitorMetrics::kContentType),
                                   QByteArray(body.data(), static_cast<qsizetype>(body.size())));
    });
}

std::optional<std::string> CMetricsServer::Listen(const QHostAddress& address, std::uint16_t port) {
    if (!m_tcp->Listen(address, port))
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
