#include "CMetricsServer.h"

#include "ListenAddress.h"
#include "MonitorMetrics.h"

namespace cli {

namespace {

constexpr const char* kMetricsPath = "/metrics";
constexpr int kOk = 200;
constexpr int kNotFound = 404;
constexpr const char* kEmptyContentType = "application/x-empty";

} // namespace

CMetricsServer::CMetricsServer(TextFn text)
    : m_text(std::move(text)), m_tcp([this](const HttpRequest& request) { return Respond(request); }) {}

std::optional<std::string> CMetricsServer::Listen(const ListenAddress& address) {
    return m_tcp.Listen(address);
}

HttpResponse CMetricsServer::Respond(const HttpRequest& request) const {
    if ((request.method == "GET" || request.method == "HEAD") && request.path == kMetricsPath)
        return {kOk, MonitorMetrics::kContentType, m_text()};
    return {kNotFound, kEmptyContentType, {}};
}

} // namespace cli
