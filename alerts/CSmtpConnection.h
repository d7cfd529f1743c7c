#pragma once

#include "CTimedSocket.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class CTlsSession;

// One SMTP connection for the e-mail alert: a CTimedSocket, whose ten-second budget starts at
// construction and bounds everything below, with TLS switched on when asked. Replies come either
// as one receive each (the plain dialogue of old, which judges a reply by whatever one receive
// brought) or as whole replies, every line of a multi-line one.
class CSmtpConnection {
public:
    CSmtpConnection();
    ~CSmtpConnection();
    CSmtpConnection(const CSmtpConnection&) = delete;
    CSmtpConnection& operator=(const CSmtpConnection&) = delete;

    bool Connect(const std::string& host, std::uint16_t port);
    // Shakes hands as a TLS client of host; nothing on success, else why it failed.
    std::optional<std::string> StartTls(const std::string& host, const std::string& caFile);

    // Gives the dialogue up: the call waiting on the server fails at once, and so does every
    // later one. Safe from any thread.
    void Abort() { m_socket.Abort(); }

    // Sends the whole text; a failure shows up in the next receive.
    void Send(const std::string& text);
    // The plain dialogue's reply: one receive of at most CTimedSocket::kReceiveLimit bytes, the
    // text up to a zero byte. Returns the byte count, 0 when the server closed, -1 on an error.
    // Never used once TLS is on.
    int Receive(std::string& reply);
    // Every line up to the last of one reply ("250-..." lines, then "250 ..."), line ends
    // included. False when the server closed or an error came first.
    bool ReceiveReply(std::string& reply);

private:
    int Read(char* buffer, int size);

    CTimedSocket m_socket;
    std::unique_ptr<CTlsSession> m_tls;
    std::string m_pending; // received beyond the last whole reply
};
