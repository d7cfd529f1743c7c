#pragma once

#include "CGuardedTcpServer.h"
#include "CHttpDaemon.h"
#include "MetricsSnapshots.h"
#include "PeerRate.h"
#include "WebConfig.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

class CPasswordCheck;
struct ListenAddress;

// The metrics endpoint: `GET /metrics` (and HEAD), a page at `/` that links to it, 404 for the
// rest, over HTTP or HTTPS with basic authentication as a web configuration file says. The HTTP
// itself is libmicrohttpd's; the guards around it are ours: CGuardedTcpServer's connection limit
// and descriptor reserve, a lifetime of kConnectionLifetimeMs for every connection, the bounded
// snapshots of MetricsSnapshots, and password checks beside the event loop. Serves on the thread's
// event loop, so it answers while a pass waits for its probes. The metrics text is rendered as each
// connection's socket takes it, kBlockBytes at a time.
class CMetricsServer final : public IConnectionSink, public CHttpDaemon::IHandler {
public:
    using FiguresFn = std::function<MonitorMetrics::Snapshot()>;

    static constexpr int kConnectionLifetimeMs = 10 * 1000;
    // What a response renders ahead of its socket, and holds for as long as its client does not
    // read: kept small, as every such connection holds one. Bigger blocks would spare a send and a
    // wait per block (with 8 KiB, 23 MB of text take some 40 ms of processor time).
    static constexpr std::size_t kBlockBytes = 8 * 1024;

    // figures: the monitor's as they are now; version: the program's, named on the page at `/`.
    CMetricsServer(FiguresFn figures, std::string version);
    ~CMetricsServer() override;
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Reads the web configuration at path (none: plain HTTP for anyone) and gets ready to serve;
    // what is wrong with the file otherwise.
    std::optional<std::string> Start(const std::string& webConfigPath);
    // Binds and listens; an error text, or nothing once it listens.
    std::optional<std::string> Listen(const ListenAddress& address);
    // Serves on a socket that listens already (from systemd).
    void AdoptListener(UniqueFd listener);
    // "http://HOST:PORT/metrics" (or https) for each socket it listens on.
    std::vector<std::string> Urls() const;
    // Reads the web configuration again; a bad one leaves the last good one in use, and says so.
    void ReloadWebConfig();

    // IConnectionSink
    std::size_t OpenConnections() const override;
    bool EvictIdlest() override;
    void Adopt(UniqueFd socket) override;

private:
    struct Connection;
    struct Request;

    // CHttpDaemon::IHandler
    void Started(CHttpDaemon& daemon, MHD_Connection* connection, int socket, void** context) override;
    void Closed(void* context) override;
    MHD_Result Answer(CHttpDaemon& daemon, MHD_Connection* connection, const char* url, const char* method,
                      std::size_t* uploadSize, void** state) override;
    void Completed(void* state) override;

    std::optional<std::string> Apply(WebConfig config);
    // Whether the request may go on; false once it is answered (401) or on hold for its check.
    bool Authorised(CHttpDaemon& daemon, MHD_Connection* connection, Request& request, MHD_Result& result);
    MHD_Result Respond(MHD_Connection* connection, Connection& record, const std::string& url,
                       const std::string& method);
    // Shuts the connection's socket: the library sees it closed at its next turn.
    void CutOff(Connection& record);
    void CutOffHolders(const MonitorMetrics::Figures* snapshot);
    void ArmLifetime();
    void EndLifetimes();
    void RetireIdleDaemons();

    MetricsSnapshots m_snapshots;
    const std::string m_landingPage;
    std::string m_webConfigPath;
    std::optional<WebConfig> m_webConfig;
    std::vector<FileStamp> m_watched; // what a change of means reading the web configuration again
    std::string m_lastWebConfigError;
    QObject m_context; // owns the posted calls, so none outlives the server
    QTimer m_lifetime;
    QTimer m_trim;
    std::vector<std::unique_ptr<Connection>> m_connections; // in the order they came
    std::unique_ptr<CPasswordCheck> m_passwords;
    PeerRate m_handshakes;                                // new TLS connections of each peer
    std::unique_ptr<CHttpDaemon> m_daemon;                // new connections go here
    std::vector<std::unique_ptr<CHttpDaemon>> m_retiring; // with an earlier configuration, until their last connection
    bool m_stopping = false;
    CGuardedTcpServer m_tcp; // first to go: no connection comes after the rest
};

} // namespace cli
