#pragma once

#include <QHostAddress>
#include <QHttpServer>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace cli {

class CGuardedTcpServer;

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
