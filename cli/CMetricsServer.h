#pragma once

#include "CGuardedTcpServer.h"
#include "HttpMessage.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace cli {

struct ListenAddress;

// `GET /metrics` (and HEAD) over HTTP, answering 404 to everything else. Serves on the thread's
// event loop, so it answers while a pass waits for its probes.
class CMetricsServer {
public:
    using TextFn = std::function<std::string()>;

    explicit CMetricsServer(TextFn text);

    // Starts listening; returns an error text, or nothing on success.
    std::optional<std::string> Listen(const ListenAddress& address);
    std::uint16_t Port() const { return m_tcp.Port(); }

private:
    HttpResponse Respond(const HttpRequest& request) const;

    TextFn m_text;
    CGuardedTcpServer m_tcp;
};

} // namespace cli
