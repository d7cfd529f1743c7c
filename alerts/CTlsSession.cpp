#include "CTlsSession.h"

#include "AddressResolver.h"
#include "CTimedSocket.h"
#include "SmallFile.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <climits>

namespace {

// A file of trusted certificates is a few kilobytes; the system's whole bundle is under 300 KiB.
constexpr std::size_t kMaxCertificateFileBytes = 1024 * 1024;

// The BIO that carries OpenSSL's records over the timed socket; its data is the socket.
int SocketWrite(BIO* bio, const char* data, int count) {
    auto* socket = static_cast<CTimedSocket*>(BIO_get_data(bio));
    return socket->Send(data, count);
}

int SocketRead(BIO* bio, char* buffer, int size) {
    auto* socket = static_cast<CTimedSocket*>(BIO_get_data(bio));
    return socket->Receive(buffer, size);
}

long SocketControl(BIO*, int command, long, void*) {
    // Writes go out at once; nothing to flush. Every other request is unsupported.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* SocketMethod() {
    static const std::unique_ptr<BIO_METHOD, decltype(&BIO_meth_free)> method = [] {
        std::unique_ptr<BIO_METHOD, decltype(&BIO_meth_free)> made(
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pulsewick timed socket"), &BIO_meth_free);
        if (made) {
            BIO_meth_set_write(made.get(), SocketWrite);
            BIO_meth_set_read(made.get(), SocketRead);
            BIO_meth_set_ctrl(made.get(), SocketControl);
        }
        return made;
    }();
    return method.get();
}

// OpenSSL's own words for the last error it queued, or fallback when it queued none.
std::string LibraryError(const std::string& fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return fallback;
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : fallback;
}

// Trusts the certificates (and revocation lists) of caFile (PEM) in context besides the others;
// why not, when it cannot. Read here rather than by OpenSSL, which would wait on a FIFO.
std::string LoadTrusted(SSL_CTX* context, const std::string& caFile) {
    const std::string cannot = "the certificate file " + caFile + " cannot be used (";
    const SmallFile file = ReadSmallFile(caFile, kMaxCertificateFileBytes);
    if (!file.failure.empty())
        return cannot + file.failure + ")";
    const std::unique_ptr<BIO, decltype(&BIO_free)> memory(
        BIO_new_mem_buf(file.bytes.data(), static_cast<int>(file.bytes.size())), &BIO_free);
    const std::unique_ptr<STACK_OF(X509_INFO), void (*)(STACK_OF(X509_INFO)*)> infos(
        memory ? PEM_X509_INFO_read_bio(memory.get(), nullptr, nullptr, nullptr) : nullptr,
        [](STACK_OF(X509_INFO) * s) { sk_X509_INFO_pop_free(s, X509_INFO_free); });
    if (!infos)
        return cannot + "it is not in PEM form: " + LibraryError("no reason given") + ")";
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    int loaded = 0;
    for (int i = 0; i < sk_X509_INFO_num(infos.get()); ++i) {
        const X509_INFO* info = sk_X509_INFO_value(infos.get(), i);
        if ((info->x509 && X509_STORE_add_cert(store, info->x509) != 1) ||
            (info->crl && X509_STORE_add_crl(store, info->crl) != 1))
            return cannot + LibraryError("no reason given") + ")";
        loaded += (info->x509 ? 1 : 0) + (info->crl ? 1 : 0);
    }
    ERR_clear_error();
    if (loaded == 0)
        return cannot + "it holds no certificate in PEM form)";
    return {};
}

std::string HandshakeFailure(SSL* ssl, CTimedSocket& socket, int rc) {
    const long verified = SSL_get_verify_result(ssl);
    if (verified != X509_V_OK) {
        ERR_clear_error();
        return std::string("the server's certificate is not trusted (") + X509_verify_cert_error_string(verified) + ")";
    }
    if (SSL_get_error(ssl, rc) == SSL_ERROR_SYSCALL) {
        ERR_clear_error();
        if (socket.GetLastError() == EINTR)
            return "the TLS handshake did not finish in time";
        return "the connection broke during the TLS handshake";
    }
    return "the TLS handshake failed (" + LibraryError("no reason given") + ")";
}

} // namespace

void CTlsSession::Deleter::operator()(ssl_st* ssl) const {
    SSL_free(ssl);
}

void CTlsSession::Deleter::operator()(ssl_ctx_st* context) const {
    SSL_CTX_free(context);
}

CTlsSession::CTlsSession(std::unique_ptr<ssl_ctx_st, Deleter> context, std::unique_ptr<ssl_st, Deleter> ssl)
    : m_context(std::move(context)), m_ssl(std::move(ssl)) {}

CTlsSession::~CTlsSession() = default;

std::string CTlsSession::CheckCertificateFile(const std::string& caFile) {
    ERR_clear_error();
    const std::unique_ptr<ssl_ctx_st, Deleter> context(SSL_CTX_new(TLS_client_method()));
    if (!context)
        return "TLS cannot be set up (" + LibraryError("out of memory") + ")";
    return LoadTrusted(context.get(), caFile);
}

std::variant<std::unique_ptr<CTlsSession>, std::string>
CTlsSession::Start(CTimedSocket& socket, const std::string& host, const std::string& caFile) {
    ERR_clear_error();
    std::unique_ptr<ssl_ctx_st, Deleter> context(SSL_CTX_new(TLS_client_method()));
    if (!context || SocketMethod() == nullptr)
        return "TLS cannot be set up (" + LibraryError("out of memory") + ")";
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(context.get()) != 1)
        return "the system's trusted certificates cannot be read (" + LibraryError("no reason given") + ")";
    if (!caFile.empty()) {
        if (std::string failure = LoadTrusted(context.get(), caFile); !failure.empty())
            return failure;
        // A self-signed server's own certificate in the file is enough: it need not be a CA.
        X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(context.get()), X509_V_FLAG_PARTIAL_CHAIN);
    }

    std::unique_ptr<ssl_st, Deleter> ssl(SSL_new(context.get()));
    BIO* bio = ssl ? BIO_new(SocketMethod()) : nullptr;
    if (!bio)
        return "TLS cannot be set up (" + LibraryError("out of memory") + ")";
    BIO_set_data(bio, &socket);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl.get(), bio, bio); // the session owns the BIO from here

    // The certificate must name what the user typed: an address literal as an address.

    if (const std::optional<HostAddress> address = ParseAddressLiteral(host)) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
        if (address->Family() == AF_INET6) {
            const in6_addr bytes = address->GetIPv6();
            X509_VERIFY_PARAM_set1_ip(param, reinterpret_cast<const unsigned char*>(&bytes), sizeof bytes);
        } else {
            const in_addr_t bytes = address->GetIPv4();
            X509_VERIFY_PARAM_set1_ip(param, reinterpret_cast<const unsigned char*>(&bytes), sizeof bytes);
        }
    } else {
        SSL_set_tlsext_host_name(ssl.get(), host.c_str());
        SSL_set1_host(ssl.get(), host.c_str());
    }

    const int rc = SSL_connect(ssl.get());
    if (rc != 1)
        return HandshakeFailure(ssl.get(), socket, rc);
    return std::unique_ptr<CTlsSession>(new CTlsSession(std::move(context), std::move(ssl)));
}

int CTlsSession::Write(const void* data, int count) {
    if (count == 0)
        return 0;
    const int written = SSL_write(m_ssl.get(), data, count);
    ERR_clear_error();
    return written > 0 ? written : -1;
}

int CTlsSession::Read(void* buffer, int size) {
    const int n = SSL_read(m_ssl.get(), buffer, size);
    if (n > 0)
        return n;
    const int error = SSL_get_error(m_ssl.get(), n);
    ERR_clear_error();
    return error == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}
