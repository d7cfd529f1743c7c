#pragma once

#include "UniqueFd.h"

#include <microhttpd.h>

#include <QObject>
#include <QTimer>

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>

class QSocketNotifier;

namespace cli {

// Who must show a certificate to the endpoint, as exporter-toolkit's client_auth_type names it.
enum class ClientAuth { none, request, requireAny, verifyIfGiven, requireAndVerify };

struct TlsSettings {
    std::string certificate; // PEM, the chain the server shows
    std::string key;         // PEM
    std::string clientCa;    // PEM, the authorities a client's certificate must chain to
    std::string priorities;  // GnuTLS priority string: the protocol versions allowed
    ClientAuth clientAuth = ClientAuth::none;

    bool operator==(const TlsSettings&) const = default;
};

// One libmicrohttpd daemon without a listening socket of its own: it serves the connections it is
// handed, turned by this thread's Qt event loop (MHD's epoll descriptor under a socket notifier,
// its time-outs on a timer). Requests are answered on the thread that makes the monitor's
// metrics, so the two share nothing with another thread.
class CHttpDaemon final : public QObject {
public:
    // What the daemon tells its owner; all of it on this thread, from inside Add or Run.
    class IHandler {
    public:
        virtual ~IHandler() = default;
        virtual void Started(CHttpDaemon& daemon, MHD_Connection* connection, int socket, void** context) = 0;
        virtual void Closed(void* context) = 0;
        // MHD's access handler; *state is the request's own, null at its first call.
        virtual MHD_Result Answer(CHttpDaemon& daemon, MHD_Connection* connection, const char* url, const char* method,
                                  std::size_t* uploadSize, void** state) = 0;
        virtual void Completed(void* state) = 0;
    };

    // The largest request head a connection takes (MHD answers 431 beyond): each connection's
    // buffers come from one pool of this size, which also holds the head's parsed fields.
    static constexpr std::size_t kConnectionMemory = 24 * 1024;

    // A daemon with TLS when tls is set; none, and error set, when the library refuses it.
    static std::unique_ptr<CHttpDaemon> Start(IHandler& handler, std::optional<TlsSettings> tls, std::string& error);
    ~CHttpDaemon() override;

    // Serves socket; false when the library refused it (it closes the socket then).
    bool Add(UniqueFd socket);
    // Does what is ready now (data that came, connections shut down meanwhile). Never from inside
    // one of the handler's calls.
    void Run();
    // Holds a request while its answer is worked out elsewhere; Resume lets it go on.
    void Suspend(MHD_Connection* connection);
    void Resume(MHD_Connection* connection);
    bool IsTls() const { return m_tls.has_value(); }

    // Made through Start only.
    class Key {
        friend class CHttpDaemon;
        Key() = default;
    };
    CHttpDaemon(Key, IHandler& handler, std::optional<TlsSettings> tls);

private:
    void RequireCertificates(MHD_Connection* connection) const;
    // Whether a client certificate, where one is only checked when given, chains to the CA.
    bool GivenCertificateHolds(MHD_Connection* connection) const;

    static void OnConnection(void* self, MHD_Connection* connection, void** context,
                             MHD_ConnectionNotificationCode code);
    static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url, const char* method,
                                const char* version, const char* upload, std::size_t* uploadSize, void** state);
    static void OnCompleted(void* self, MHD_Connection* connection, void** state, MHD_RequestTerminationCode code);

    IHandler& m_handler;
    const std::optional<TlsSettings> m_tls; // MHD reads the PEM texts from here for the daemon's life
    MHD_Daemon* m_daemon = nullptr;
    std::unique_ptr<QSocketNotifier> m_ready;
    QTimer m_timeout;
    std::set<MHD_Connection*> m_suspended;
};

} // namespace cli
