#pragma once

#include <memory>
#include <string>
#include <variant>

class CTimedSocket;
struct ssl_st;
struct ssl_ctx_st;

// A TLS client session (OpenSSL) over a connected CTimedSocket. Every byte goes through the
// socket's own Send and Receive, so its watchdog bounds the handshake like any other wait. The
// server's certificate must chain to the system's trust store or to the extra file given, and
// must name the host connected to; there is no way to accept a certificate that does not.
class CTlsSession {
public:
    // Shakes hands with the server as host. Returns the session, or the reason it failed as a
    // sentence fragment ("the server's certificate is not trusted (self-signed certificate)").
    static std::variant<std::unique_ptr<CTlsSession>, std::string> Start(CTimedSocket& socket, const std::string& host,
                                                                         const std::string& caFile);
    // Whether caFile can be trusted as Start would: empty when it can, else why not, as Start says it.
    static std::string CheckCertificateFile(const std::string& caFile);
    ~CTlsSession();
    CTlsSession(const CTlsSession&) = delete;
    CTlsSession& operator=(const CTlsSession&) = delete;

    // As CTimedSocket's Send and Receive: count or -1; bytes, 0 at the end, -1 on an error.
    int Write(const void* data, int count);
    int Read(void* buffer, int size);

private:
    struct Deleter {
        void operator()(ssl_st* ssl) const;
        void operator()(ssl_ctx_st* context) const;
    };
    CTlsSession(std::unique_ptr<ssl_ctx_st, Deleter> context, std::unique_ptr<ssl_st, Deleter> ssl);

    std::unique_ptr<ssl_ctx_st, Deleter> m_context;
    std::unique_ptr<ssl_st, Deleter> m_ssl;
};
