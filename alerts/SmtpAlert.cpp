#include "SmtpAlert.h"

#include "CItemList.h"
#include "CTimedSocket.h"

#include <stop_token>
#include <string_view>

namespace {

// Replies are judged by their first characters only, compared as text; lines are never assembled.
bool StartsWith(const std::string& reply, std::string_view code) {
    return std::string_view(reply).substr(0, code.size()) == code;
}

// A value from the list ends at its first line break, so no setting or address can start a
// command or header line of its own; what follows a break is a paste accident or an attempt to
// inject, and none of it goes out. A zero byte ends the value too: the text sent would otherwise
// end there, without its line end.
std::string OneLine(const std::string& value) {
    return value.substr(0, value.find_first_of("\r\n\0", 0, 3));
}

// SMTP transparency: the server takes away the first of two leading dots, and a lone dot would
// end the message.
std::string DotStuffed(std::string line) {
    if (!line.empty() && line.front() == '.')
        line.insert(line.begin(), '.');
    return line;
}

std::string FailureLine(const CItem& item) {
    return DotStuffed(MailEntryName(item) + "\r\n");
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

// The whole dialogue; recovered null for the alert, else the notice naming those entries.
std::string SendMessage(const CItemList& list, std::uint16_t port, const std::stop_token& stop,
                        const std::vector<std::string>* recovered) {
    const std::string server = OneLine(list.m_strServer);
    const std::string from = OneLine(list.m_strFrom);
    const std::string to = OneLine(list.m_strTo);
    const std::string subject =
        std::string(recovered ? smtp::kRecoveredSubjectPrefix : "") + OneLine(list.m_strSubject);

    // The socket's budget starts now and covers the whole dialogue; a failed creation shows up
    // as a failed connect.
    CTimedSocket socket;
    const std::stop_callback abort(stop, [&socket] { socket.Abort(); });
    socket.Create();
    if (!socket.Connect(server, port))
        return smtp::kConnectFailed;

    std::string reply;
    if (socket.ReceiveString(reply) <= 0)
        return smtp::kNoGreeting;

    // Whatever still starts with "22" after HELO is the rest of a greeting that came in pieces.
    socket.SendString(("HELO " + server + "\r\n").c_str());
    do {
        if (socket.ReceiveString(reply) <= 0)
            return smtp::kHeloError;
    } while (StartsWith(reply, "22"));
    if (!StartsWith(reply, "25"))
        return smtp::kHeloUnexpected;

    if (const char* failed =
            Exchange(socket, "MAIL FROM:<" + from + ">\r\n", "25", smtp::kMailFromError, smtp::kMailFromUnexpected))
        return failed;
    if (const char* failed =
            Exchange(socket, "RCPT TO:<" + to + ">\r\n", "25", smtp::kRcptToError, smtp::kRcptToUnexpected))
        return failed;
    if (const char* failed = Exchange(socket, "DATA\r\n", "354", smtp::kDataError, smtp::kDataUnexpected))
        return failed;

    // Sent as held up to the first line break: no encoding, no other header. A failed send shows
    // up in the reply to the end of the body.
    socket.SendString(("From: " + from + "\r\n" + "To: " + to + "\r\n" + "Subject: " + subject + "\r\n\r\n").c_str());
    socket.SendString((std::string(recovered ? smtp::kRecoveredHeading : smtp::kBodyHeading) + "\r\n").c_str());
    if (recovered) {
        for (const std::string& name : *recovered)
            socket.SendString(DotStuffed(OneLine(name) + "\r\n").c_str());
    } else {
        list.ForEach([&socket](const CItem& item) {
            if (item.m_bResult == 0)
                socket.SendString(FailureLine(item).c_str());
        });
    }
    if (const char* failed = Exchange(socket, "\r\n.\r\n", "25", smtp::kBodyError, smtp::kBodyUnexpected))
        return failed;

    // The message is delivered; a server slow to say goodbye must not hold us.
    socket.SendString("QUIT\r\n");
    return smtp::kOk;
}

} // namespace

std::string MailEntryName(const CItem& item) {
    const std::string kind = item.m_bConnect == 0 ? std::string("ICMP") : std::to_string(item.m_nPort);
    return OneLine(item.m_strAddress) + ":" + kind;
}

std::string SendMailAlert(const CItemList& list) {
    return SendMailAlert(list, smtp::kPort);
}

std::string SendMailAlert(const CItemList& list, std::uint16_t port) {
    return SendMailAlert(list, port, std::stop_token());
}

std::string SendMailAlert(const CItemList& list, std::uint16_t port, const std::stop_token& stop) {
    return SendMessage(list, port, stop, nullptr);
}

std::string SendRecoveryMail(const CItemList& list, std::uint16_t port, const std::stop_token& stop,
                             const std::vector<std::string>& recovered) {
    return SendMessage(list, port, stop, &recovered);
}
