#include "SmtpAlert.h"

#include "CItemList.h"
#include "CTimedSocket.h"

#include <string_view>

namespace {

// Replies are judged by their first characters only, compared as text; lines are never assembled.
bool StartsWith(const std::string& reply, std::string_view code) {
    return std::string_view(reply).substr(0, code.size()) == code;
}

std::string FailureLine(const CItem& item) {
    const std::string kind = item.m_bConnect == 0 ? std::string("ICMP") : std::to_string(item.m_nPort);
    return item.m_strAddress + ":" + kind + "\r\n";
}

// Sends one command and takes one reply; returns the outcome text on failure, null when the
// reply starts with code.
const char* Exchange(CTimedSocket& socket, const std::string& command, std::string_view code, const char* error,
                     const char* unexpected) {
    std::string reply;
    socket.SendString(command.c_str());
    if (socket.ReceiveString(reply) <= 0)
        return error;
    return StartsWith(reply, code) ? nullptr : unexpected;
}

} // namespace

std::string SendMailAlert(const CItemList& list) {
    return SendMailAlert(list, smtp::kPort);
}

std::string SendMailAlert(const CItemList& list, std::uint16_t port) {
    // The socket's budget starts now and covers the whole dialogue; a failed creation shows up
    // as a failed connect.
    CTimedSocket socket;
    socket.Create();
    if (!socket.Connect(list.m_strServer, port))
        return smtp::kConnectFailed;

    std::string reply;
    if (socket.ReceiveString(reply) <= 0)
        return smtp::kNoGreeting;

    // Whatever still starts with "22" after HELO is the rest of a greeting that came in pieces.
    socket.SendString(("HELO " + list.m_strServer + "\r\n").c_str());
    do {
        if (socket.ReceiveString(reply) <= 0)
            return smtp::kHeloError;
    } while (StartsWith(reply, "22"));
    if (!StartsWith(reply, "25"))
        return smtp::kHeloUnexpected;

    if (const char* failed = Exchange(socket, "MAIL FROM:<" + list.m_strFrom + ">\r\n", "25", smtp::kMailFromError,
                                      smtp::kMailFromUnexpected))
        return failed;
    if (const char* failed =
            Exchange(socket, "RCPT TO:<" + list.m_strTo + ">\r\n", "25", smtp::kRcptToError, smtp::kRcptToUnexpected))
        return failed;
    if (const char* failed = Exchange(socket, "DATA\r\n", "354", smtp::kDataError, smtp::kDataUnexpected))
        return failed;

    // Sent exactly as held: no dot-stuffing, no encoding, no other header. A failed send shows
    // up in the reply to the end of the body.
    socket.SendString(("From: " + list.m_strFrom + "\r\n" + "To: " + list.m_strTo + "\r\n" +
                       "Subject: " + list.m_strSubject + "\r\n\r\n")
                          .c_str());
    socket.SendString((std::string(smtp::kBodyHeading) + "\r\n").c_str());
    list.ForEach([&socket](const CItem& item) {
        if (item.m_bResult == 0)
            socket.SendString(FailureLine(item).c_str());
    });
    if (const char* failed = Exchange(socket, "\r\n.\r\n", "25", smtp::kBodyError, smtp::kBodyUnexpected))
        return failed;

    // The message is delivered; a server slow to say goodbye must not hold us.
    socket.SendString("QUIT\r\n");
    return smtp::kOk;
}
