#pragma once

#include <QHostAddress>
#include <QHttpServer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace cli {

// A listening socket that keeps the metrics endpoint alive under abuse: at most
// kMaxConnections at once (a new one pushes out the oldest, so a flood of idle connections
// cannot lock a scraper out), at most kMaxRequestBytes read from one connection, and no
// connection older than kConnectionLifetimeMs, so neither a burst nor clients that send slowly,
// send too much or never read can use up descriptors or memory.
class CGuardedTcpServer final : public QTcpServer {
public:
    static constexpr int kMaxConnections = 256;
    static constexpr qint64 kMaxRequestBytes = 16 * 1024;
    static constexpr int kConnectionLifetimeMs = 10 * 1000;
    static constexpr int kListenBacklog = 1024;

    explicit CGuardedTcpServer(QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QList<QPointer<QTcpSocket>> m_connections; // oldest first; null once a socket is gone
};

// `GET /metrics` over HTTP, answering 404 to everything else. Serves on the thread's event
// loop, so it answers while a pass waits for its probes.
class CMetricsServer {
public:
    using TextFn = std::function<std::string()>;

    explicit CMetricsServer(TextFn text);

    // Starts listening; returns an error text, or nothing on success.
    std::optional<std::string> Listen(const QHostAddress& address, std::uint16_t port);
    std::uint16_t Port() const;

private:
    QHttpServer m_http;
    CGuardedTcpServer* m_tcp; // a child of m_http
    TextFn m_text;
};

// Reads "HOST:PORT", "[IPV6]:PORT", ":PORT" or "PORT" (HOST 127.0.0.1); "localhost" is allowed.
struct ListenAddress {
    QHostAddress host;
    std::uint16_t port = 0;
};
std::optional<ListenAddress> ParseListenAddress(const QString& text);

} // namespace cli
