#include "CSmtpConnection.h"

#include "CTlsSession.h"

namespace {

// Replies longer than this are not SMTP; a server sending one is not waited for any further.
constexpr std::size_t kReplyLimit = 64 * 1024;

// The end of the last line of a whole reply in text, or npos while it is incomplete: a line
// whose code is followed by anything but "-" ends the reply.
std::size_t EndOfReply(const std::string& text) {
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        if (end - start < 4 || text[start + 3] != '-')
            return end + 1;
    }
    return std::string::npos;
}

} // namespace

CSmtpConnection::CSmtpConnection() = default;
CSmtpConnection::~CSmtpConnection() = default;

bool CSmtpConnection::Connect(const std::string& host, std::uint16_t port) {
    // A failed creation shows up as a failed connect.
    m_socket.Create();
    return m_socket.Connect(host, port);
}

std::optional<std::string> CSmtpConnection::StartTls(const std::string& host, const std::string& caFile) {
    auto started = CTlsSession::Start(m_socket, host, caFile);
    if (auto* error = std::get_if<std::string>(&started))
        return *error;
    m_tls = std::move(std::get<std::unique_ptr<CTlsSession>>(started));
    m_pending.clear(); // nothing said before the handshake may count after it
    return std::nullopt;
}

void CSmtpConnection::Send(const std::string& text) {
    if (m_tls)
        m_tls->Write(text.data(), static_cast<int>(text.size()));
    else
        m_socket.SendString(text.c_str());
}

int CSmtpConnection::Read(char* buffer, int size) {
    return m_tls ? m_tls->Read(buffer, size) : m_socket.Receive(buffer, size);
}

int CSmtpConnection::Receive(std::string& reply) {
    return m_socket.ReceiveString(reply);
}

bool CSmtpConnection::ReceiveReply(std::string& reply) {
    for (;;) {
        if (const std::size_t end = EndOfReply(m_pending); end != std::string::npos) {
            reply = m_pending.substr(0, end);
            m_pending.erase(0, end);
            return true;
        }
        char buffer[CTimedSocket::kReceiveLimit];
        const int n = Read(buffer, sizeof buffer);
        if (n <= 0 || m_pending.size() + static_cast<std::size_t>(n) > kReplyLimit) {
            reply.clear();
            return false;
        }
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}
