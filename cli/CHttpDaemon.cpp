#include "CHttpDaemon.h"

#include <QSocketNotifier>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace cli {

namespace {

// A client's certificate must be one issued for clients (extended key usage clientAuth), as Go's
// crypto/tls checks for exporter-toolkit; a server's certificate from the same CA is refused.
// GnuTLS keeps the pointer for the session's life, so the one object lives as long as the program.
gnutls_typed_vdata_st* ClientPurpose() {
    static gnutls_typed_vdata_st purpose{
        GNUTLS_DT_KEY_PURPOSE_OID, reinterpret_cast<unsigned char*>(const_cast<char*>(GNUTLS_KP_TLS_WWW_CLIENT)), 0};
    return &purpose;
}

// Above the endpoint's own limit (CGuardedTcpServer), which counts every daemon's connections: the
// library must never turn one away by itself.
constexpr unsigned kLibraryConnectionLimit = 4096;
// How long Run goes on while the library has more to do at once.
constexpr std::chrono::milliseconds kRunSlice(2);

} // namespace

std::unique_ptr<CHttpDaemon> CHttpDaemon::Start(IHandler& handler, std::optional<TlsSettings> tls, std::string& error) {
    auto daemon = std::make_unique<CHttpDaemon>(Key(), handler, std::move(tls));
    const std::optional<TlsSettings>& settings = daemon->m_tls;
    unsigned flags = MHD_USE_EPOLL | MHD_USE_NO_LISTEN_SOCKET | MHD_ALLOW_SUSPEND_RESUME;
    MHD_OptionItem options[12];
    std::size_t count = 0;
    options[count++] = {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr};
    options[count++] = {MHD_OPTION_CONNECTION_LIMIT, kLibraryConnectionLimit, nullptr};
    options[count++] = {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&OnConnection), daemon.get()};
    options[count++] = {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&OnCompleted), daemon.get()};
    if (settings) {
        flags |= MHD_USE_TLS;
        options[count++] = {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(settings->certificate.c_str())};
        options[count++] = {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(settings->key.c_str())};
        options[count++] = {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(settings->priorities.c_str())};
        if (!settings->clientCa.empty())
            options[count++] = {MHD_OPTION_HTTPS_MEM_TRUST, 0, const_cast<char*>(settings->clientCa.c_str())};
    }
    options[count++] = {MHD_OPTION_END, 0, nullptr};
    daemon->m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &OnRequest, daemon.get(), MHD_OPTION_ARRAY, options,
                                        MHD_OPTION_END);
    if (daemon->m_daemon == nullptr) {
        error = settings ? "the TLS settings were refused" : "the HTTP library could not start";
        return nullptr;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon->m_daemon, MHD_DAEMON_INFO_EPOLL_FD);
    daemon->m_ready = std::make_unique<QSocketNotifier>(info->epoll_fd, QSocketNotifier::Read);
    CHttpDaemon* self = daemon.get();
    connect(daemon->m_ready.get(), &QSocketNotifier::activated, self, [self] { self->Run(); });
    return daemon;
}

CHttpDaemon::CHttpDaemon(Key, IHandler& handler, std::optional<TlsSettings> tls)
    : m_handler(handler), m_tls(std::move(tls)) {
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { Run(); });
}

CHttpDaemon::~CHttpDaemon() {
    if (m_daemon == nullptr)
        return;
    // The library will not stop with a request on hold: let them go (they are answered by
    // closing) and have it take them back first.
    for (MHD_Connection* connection : m_suspended)
        MHD_resume_connection(connection);
    m_suspended.clear();
    MHD_run(m_daemon);
    m_ready.reset(); // before the library closes the descriptor it watches
    MHD_stop_daemon(m_daemon);
}

bool CHttpDaemon::Add(UniqueFd socket) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket.Get(), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return false; // gone before it came to us
    // The library owns the descriptor from here, also when it refuses the connection.
    // Its data, there already or to come, shows on the library's epoll descriptor.
    return MHD_add_connection(m_daemon, socket.Release(), reinterpret_cast<sockaddr*>(&peer), length) == MHD_YES;
}

void CHttpDaemon::Run() {
    // The library sends a response a block at a time, one per run while the socket takes more: a
    // few runs in a row spare the event loop a turn for each block, and still give it back soon.
    const auto until = std::chrono::steady_clock::now() + kRunSlice;
    MHD_UNSIGNED_LONG_LONG ms = 0;
    bool timed = false;
    do {
        MHD_run(m_daemon);
        timed = MHD_get_timeout(m_daemon, &ms) == MHD_YES;
    } while (timed && ms == 0 && std::chrono::steady_clock::now() < until);
    if (timed)
        m_timeout.start(static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(ms, INT_MAX)));
    else
        m_timeout.stop();
}

void CHttpDaemon::Suspend(MHD_Connection* connection) {
    MHD_suspend_connection(connection);
    m_suspended.insert(connection);
}

void CHttpDaemon::Resume(MHD_Connection* connection) {
    if (m_suspended.erase(connection) == 0)
        return;
    MHD_resume_connection(connection);
    // The library takes it back at its next run, which nothing on its descriptor asks for.
    m_timeout.start(0);
}

void CHttpDaemon::RequireCertificates(MHD_Connection* connection) const {
    if (!m_tls || m_tls->clientAuth == ClientAuth::none)
        return;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    auto session = static_cast<gnutls_session_t>(info->tls_session);
    const ClientAuth mode = m_tls->clientAuth;
    const bool required = mode == ClientAuth::requireAny || mode == ClientAuth::requireAndVerify;
    gnutls_certificate_server_set_request(session, required ? GNUTLS_CERT_REQUIRE : GNUTLS_CERT_REQUEST);
    // The handshake fails on a certificate that does not chain to client_ca_file, and also on none
    // at all: a certificate that is only checked when given is checked with the first request.
    if (mode == ClientAuth::requireAndVerify)
        gnutls_session_set_verify_cert2(session, ClientPurpose(), 1, 0);
}

bool CHttpDaemon::GivenCertificateHolds(MHD_Connection* connection) const {
    if (!m_tls || m_tls->clientAuth != ClientAuth::verifyIfGiven)
        return true;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    auto session = static_cast<gnutls_session_t>(info->tls_session);
    unsigned count = 0;
    if (gnutls_certificate_get_peers(session, &count) == nullptr || count == 0)
        return true;
    unsigned status = 0;
    return gnutls_certificate_verify_peers(session, ClientPurpose(), 1, &status) == GNUTLS_E_SUCCESS && status == 0;
}

void CHttpDaemon::OnConnection(void* self, MHD_Connection* connection, void** context,
                               MHD_ConnectionNotificationCode code) {
    auto& daemon = *static_cast<CHttpDaemon*>(self);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        if (*context != nullptr)
            daemon.m_handler.Closed(*context);
        *context = nullptr;
        return;
    }
    // Before the handshake, which the library runs from the next turn on.
    daemon.RequireCertificates(connection);
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    daemon.m_handler.Started(daemon, connection, info->connect_fd, context);
}

MHD_Result CHttpDaemon::OnRequest(void* self, MHD_Connection* connection, const char* url, const char* method,
                                  const char*, const char*, std::size_t* uploadSize, void** state) {
    auto& daemon = *static_cast<CHttpDaemon*>(self);
    if (*state == nullptr && !daemon.GivenCertificateHolds(connection))
        return MHD_NO; // closed unanswered, as the handshake would have been
    return daemon.m_handler.Answer(daemon, connection, url, method, uploadSize, state);
}

void CHttpDaemon::OnCompleted(void* self, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    if (*state != nullptr)
        static_cast<CHttpDaemon*>(self)->m_handler.Completed(*state);
    *state = nullptr;
}

} // namespace cli
