#include "CMetricsServer.h"

#include "CHeadlessMonitor.h"
#include "CPasswordCheck.h"
#include "ListenAddress.h"
#include "MetricsExposition.h"
#include "PeerRate.h"

#include <malloc.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

namespace cli {

namespace {

constexpr const char* kMetricsPath = "/metrics";
constexpr const char* kEmptyContentType = "application/x-empty";
constexpr const char* kRealm = "pulsewick";
constexpr const char* kUnauthorised = "Unauthorized\n";
// How long the endpoint stays without connections before the heap is trimmed: scrapes that come
// one after another find their pages still there.
constexpr int kTrimDelayMs = 1000;
// What a request may send in a body, which nothing here reads.
constexpr std::size_t kMaxBodyBytes = 16 * 1024;

std::string LandingPage(const std::string& version) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Pulsewick monitor</title></head>\n"
           "<body><h1>Pulsewick monitor</h1>\n<p>pulsewick-cli " +
           version + "</p>\n<p><a href=\"" + kMetricsPath + "\">Metrics</a></p>\n</body></html>\n";
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, const std::string& contentType, const std::string& body) {
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType.c_str());
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

ssize_t ReadText(void* text, std::uint64_t, char* buffer, std::size_t size) {
    const std::size_t read = static_cast<MetricsExposition*>(text)->Read(buffer, size);
    // The length was given: the library never asks beyond it.
    return read > 0 ? static_cast<ssize_t>(read) : MHD_CONTENT_READER_END_WITH_ERROR;
}

void ReleaseText(void* text) {
    const std::unique_ptr<MetricsExposition> held(static_cast<MetricsExposition*>(text));
}

} // namespace

// One open connection, in whichever daemon serves it.
struct CMetricsServer::Connection {
    Connection(CHttpDaemon* daemon, int socket) : daemon(daemon), socket(socket) {}

    CHttpDaemon* daemon;
    int socket;
    std::chrono::steady_clock::time_point accepted = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastActive = accepted; // a request came or was answered
    bool spoke = false;                                          // a request came on it
    bool answering = false;                // a request is being answered (its body may be on its way still)
    std::weak_ptr<const MonitorMetrics::Figures> snapshot; // what its last metrics response renders
    bool cutOff = false;
};

struct CMetricsServer::Request {
    enum class Login { unchecked, pending, passed, refused };
    Connection* connection;
    Login login = Login::unchecked;
    std::size_t bodyBytes = 0;
};

CMetricsServer::CMetricsServer(FiguresFn figures, std::string version)
    : m_snapshots(std::move(figures)), m_landingPage(LandingPage(version)),
      m_passwords(std::make_unique<CPasswordCheck>(&m_context)), m_tcp(*this) {
    m_lifetime.setSingleShot(true);
    QObject::connect(&m_lifetime, &QTimer::timeout, &m_context, [this] { EndLifetimes(); });
    m_trim.setSingleShot(true);
    QObject::connect(&m_trim, &QTimer::timeout, &m_context, [] { ::malloc_trim(0); });
}

CMetricsServer::~CMetricsServer() {
    // Checks in flight are dropped before the daemons end the requests that wait for them.
    m_stopping = true;
    m_passwords.reset();
    m_retiring.clear();
    m_daemon.reset();
}

std::optional<std::string> CMetricsServer::Start(const std::string& webConfigPath) {
    m_webConfigPath = webConfigPath;
    if (m_webConfigPath.empty())
        return Apply({});
    WebConfigRead read = ReadWebConfig(m_webConfigPath);
    m_watched = std::move(read.sources);
    if (!read.config)
        return read.error;
    return Apply(std::move(*read.config));
}

std::optional<std::string> CMetricsServer::Apply(WebConfig config) {
    // Clients and the URLs given out know the scheme: it is chosen once, when the monitor starts.
    if (m_webConfig && m_webConfig->tls.has_value() != config.tls.has_value())
        return m_webConfig->tls ? "it turns TLS off, which takes a restart of the monitor"
                                : "it turns TLS on, which takes a restart of the monitor";
    if (!m_daemon || !m_webConfig || m_webConfig->tls != config.tls) {
        std::string error;
        std::unique_ptr<CHttpDaemon> daemon = CHttpDaemon::Start(*this, config.tls, error);
        if (!daemon)
            return error;
        if (m_daemon)
            m_retiring.push_back(std::move(m_daemon));
        m_daemon = std::move(daemon);
        RetireIdleDaemons();
    }
    m_passwords->SetUsers(config.users);
    m_webConfig = std::move(config);
    return std::nullopt;
}

void CMetricsServer::ReloadWebConfig() {
    if (m_webConfigPath.empty())
        return;
    WebConfigRead read = ReadWebConfig(m_webConfigPath);
    // Also after a failure, the files the new text names are watched: putting them in place
    // (or mending them) is what makes it good.
    m_watched = std::move(read.sources);
    std::optional<std::string> error = read.config ? Apply(std::move(*read.config)) : read.error;
    if (!error) {
        m_lastWebConfigError.clear();
        PrintEvent("web configuration: reloaded " + m_webConfigPath);
        return;
    }
    // Said once for each failure.
    if (*error != m_lastWebConfigError)
        PrintEvent("web configuration: kept the last good one, " + m_webConfigPath + ": " + *error);
    m_lastWebConfigError = *error;
}

std::optional<std::string> CMetricsServer::Listen(const ListenAddress& address) {
    return m_tcp.Listen(address);
}

void CMetricsServer::AdoptListener(UniqueFd listener) {
    m_tcp.Adopt(std::move(listener));
}

std::vector<std::string> CMetricsServer::Urls() const {
    std::vector<std::string> urls;
    for (const ListenAddress& address : m_tcp.Addresses())
        urls.push_back(std::string(m_daemon->IsTls() ? "https://" : "http://") + address.HostText() + ":" +
                       std::to_string(address.Port()) + kMetricsPath);
    return urls;
}

std::size_t CMetricsServer::OpenConnections() const {
    return static_cast<std::size_t>(
        std::count_if(m_connections.begin(), m_connections.end(), [](const auto& record) { return !record->cutOff; }));
}

bool CMetricsServer::EvictIdlest() {
    // First those that never sent a request (a flood of idle connections), then those between
    // requests, and only then one that is being answered: a scraper in the middle of a long body
    // is not idle, though its last request came a while ago.
    const auto rank = [](const Connection& record) {
        return std::tuple(record.answering, record.spoke, record.lastActive);
    };
    Connection* idlest = nullptr;
    for (const auto& record : m_connections)
        if (!record->cutOff && (idlest == nullptr || rank(*record) < rank(*idlest)))
            idlest = record.get();
    if (idlest == nullptr)
        return false;
    CutOff(*idlest);
    // The caller needs its descriptor back now, not at the library's next turn.
    idlest->daemon->Run();
    return true;
}

void CMetricsServer::Adopt(UniqueFd socket) {
    // exporter-toolkit reads its file for every request; a look at the files' state per
    // connection is enough to take a change before the next scrape.
    if (!m_webConfigPath.empty() && AnyChanged(m_watched))
        ReloadWebConfig();
    if (m_daemon->IsTls()) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(socket.Get(), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
            !m_handshakes.Admit(PeerKey(reinterpret_cast<const sockaddr&>(peer))))
            return; // closed before the handshake it would cost
    }
    m_daemon->Add(std::move(socket));
}

void CMetricsServer::Started(CHttpDaemon& daemon, MHD_Connection*, int socket, void** context) {
    m_connections.push_back(std::make_unique<Connection>(&daemon, socket));
    *context = m_connections.back().get();
    if (!m_lifetime.isActive())
        ArmLifetime();
}

void CMetricsServer::Closed(void* context) {
    std::erase_if(m_connections, [context](const auto& record) { return record.get() == context; });
    // The connections' buffers and the snapshots they held leave free pages all over the heap,
    // which the allocator keeps: once nobody has been connected for a moment they are given back,
    // so neither scrapes during a pass nor a flood leave the monitor larger for good.
    if (m_connections.empty())
        m_trim.start(kTrimDelayMs);
    if (!m_retiring.empty())
        // Not from inside the daemon that is closing the connection.
        QTimer::singleShot(0, &m_context, [this] { RetireIdleDaemons(); });
}

void CMetricsServer::Completed(void* state) {
    const std::unique_ptr<Request> request(static_cast<Request*>(state)); // the library held it till now
    request->connection->lastActive = std::chrono::steady_clock::now();
    request->connection->answering = false;
}

MHD_Result CMetricsServer::Answer(CHttpDaemon& daemon, MHD_Connection* connection, const char* url, const char* method,
                                  std::size_t* uploadSize, void** state) {
    if (*state == nullptr) {
        auto* record = static_cast<Connection*>(
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
        record->lastActive = std::chrono::steady_clock::now();
        record->spoke = record->answering = true;
        *state = std::make_unique<Request>(Request{record}).release(); // back in Completed
        // A body nobody here reads: a short one is taken so the connection goes on; a long one is
        // refused before it is read (the library closes the connection after the answer), rather
        // than read for as long as the client cares to send.
        const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (length != nullptr && std::strtoull(length, nullptr, 10) > kMaxBodyBytes)
            return Queue(connection, MHD_HTTP_CONTENT_TOO_LARGE, kEmptyContentType, {});
        return MHD_YES; // the head has come; a body may follow
    }
    auto& request = *static_cast<Request*>(*state);
    if (*uploadSize != 0) {
        request.bodyBytes += *uploadSize;
        *uploadSize = 0;
        return request.bodyBytes > kMaxBodyBytes ? MHD_NO : MHD_YES; // a chunked one that goes on too long
    }
    MHD_Result result = MHD_YES;
    if (m_stopping || !Authorised(daemon, connection, request, result))
        return m_stopping ? MHD_NO : result;
    return Respond(connection, *request.connection, url, method);
}

bool CMetricsServer::Authorised(CHttpDaemon& daemon, MHD_Connection* connection, Request& request, MHD_Result& result) {
    if (!m_passwords->HasUsers() || request.login == Request::Login::passed)
        return true;
    if (request.login == Request::Login::unchecked) {
        const std::optional<BasicCredentials> login = ParseBasicAuthorization(
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION));
        if (login) {
            if (m_passwords->Remembered(login->name, login->password))
                return true;
            // The connection cannot close while it is on hold, nor its request end.
            const bool queued = m_passwords->Check(
                PeerKey(*MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)->client_addr),
                login->name, login->password, [&daemon, connection, &request](bool accepted) {
                    request.login = accepted ? Request::Login::passed : Request::Login::refused;
                    daemon.Resume(connection);
                });
            // Each check holds a connection open: a flood of guesses waits outside.
            if (!queued) {
                result = Queue(connection, MHD_HTTP_SERVICE_UNAVAILABLE, kEmptyContentType, {});
                return false;
            }
            request.login = Request::Login::pending;
            daemon.Suspend(connection);
            return false;
        }
    }
    MHD_Response* response = MHD_create_response_from_buffer(std::char_traits<char>::length(kUnauthorised),
                                                             const_cast<char*>(kUnauthorised), MHD_RESPMEM_PERSISTENT);
    result = response != nullptr ? MHD_queue_basic_auth_fail_response(connection, kRealm, response) : MHD_NO;
    MHD_destroy_response(response);
    return false;
}

MHD_Result CMetricsServer::Respond(MHD_Connection* connection, Connection& record, const std::string& url,
                                   const std::string& method) {
    if (method != MHD_HTTP_METHOD_GET && method != MHD_HTTP_METHOD_HEAD)
        return Queue(connection, MHD_HTTP_NOT_FOUND, kEmptyContentType, {});
    if (url == "/")
        return Queue(connection, MHD_HTTP_OK, "text/html; charset=utf-8", m_landingPage);
    if (url != kMetricsPath)
        return Queue(connection, MHD_HTTP_NOT_FOUND, kEmptyContentType, {});

    // One snapshot for the whole response, held for as long as it is being sent.
    const MonitorMetrics::Snapshot snapshot = m_snapshots.Current();
    record.snapshot = snapshot;
    const std::size_t size = MetricsExposition::Size(snapshot);
    auto text = std::make_unique<MetricsExposition>(snapshot);
    MHD_Response* response = MHD_create_response_from_callback(size, kBlockBytes, &ReadText, text.get(), &ReleaseText);
    if (response == nullptr)
        return MHD_NO;
    text.release(); // back in ReleaseText
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, MonitorMetrics::kContentType);
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    for (const MonitorMetrics::Figures* old : m_snapshots.OverBudget())
        CutOffHolders(old);
    return result;
}

void CMetricsServer::CutOff(Connection& record) {
    if (record.cutOff)
        return;
    record.cutOff = true;
    ::shutdown(record.socket, SHUT_RDWR);
}

void CMetricsServer::CutOffHolders(const MonitorMetrics::Figures* snapshot) {
    for (const auto& record : m_connections)
        if (record->snapshot.lock().get() == snapshot)
            CutOff(*record);
}

void CMetricsServer::ArmLifetime() {
    // They came in order: the first one not cut off yet is the oldest.
    const auto oldest =
        std::find_if(m_connections.begin(), m_connections.end(), [](const auto& record) { return !record->cutOff; });
    if (oldest == m_connections.end())
        return;
    const auto left =
        (*oldest)->accepted + std::chrono::milliseconds(kConnectionLifetimeMs) - std::chrono::steady_clock::now();
    m_lifetime.start(static_cast<int>(
        std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count())));
}

void CMetricsServer::EndLifetimes() {
    const auto born = std::chrono::steady_clock::now() - std::chrono::milliseconds(kConnectionLifetimeMs);
    for (const auto& record : m_connections)
        if (record->accepted <= born)
            CutOff(*record);
    ArmLifetime();
}

void CMetricsServer::RetireIdleDaemons() {
    std::erase_if(m_retiring, [this](const std::unique_ptr<CHttpDaemon>& daemon) {
        return std::none_of(m_connections.begin(), m_connections.end(),
                            [&daemon](const auto& record) { return record->daemon == daemon.get(); });
    });
}

} // namespace cli
