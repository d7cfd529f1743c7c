#include "SmtpAlert.h"

#include "CItemList.h"
#include "CSmtpConnection.h"
#include "EntryParents.h"
#include "PassHolds.h"
#include "SmtpOptions.h"
#include "SmtpSession.h"

#include <optional>
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

// Sends one command and takes its reply: one receive in the plain dialogue, the whole reply
// otherwise, where a refusal also tells what the server said. Returns the outcome text on
// failure, nothing when the reply starts with code.
std::optional<std::string> Exchange(CSmtpConnection& connection, bool wholeReplies, const std::string& command,
                                    std::string_view code, const char* error, const char* unexpected) {
    std::string reply;
    connection.Send(command);
    if (wholeReplies ? !connection.ReceiveReply(reply) : connection.Receive(reply) <= 0)
        return error;
    if (StartsWith(reply, code))
        return std::nullopt;
    return wholeReplies ? std::string(unexpected) + " (" + smtp::FirstLine(reply) + ")" : std::string(unexpected);
}

// The plain dialogue's opening: any greeting, then HELO with the server's own name. Whatever
// still starts with "22" after HELO is the rest of a greeting that came in pieces.
const char* Helo(CSmtpConnection& connection, const std::string& server) {
    std::string reply;
    if (connection.Receive(reply) <= 0)
        return smtp::kNoGreeting;
    connection.Send("HELO " + server + "\r\n");
    do {
        if (connection.Receive(reply) <= 0)
            return smtp::kHeloError;
    } while (StartsWith(reply, "22"));
    return StartsWith(reply, "25") ? nullptr : smtp::kHeloUnexpected;
}

// The whole dialogue; recovered null for the alert, else the notice naming those entries.
std::string SendMessage(const CItemList& list, const SmtpOptions& options, const std::stop_token& stop,
                        const std::vector<std::string>* recovered, const PassHolds* holds) {
    const std::string server = OneLine(list.m_strServer);
    const std::string from = OneLine(list.m_strFrom);
    const std::string to = OneLine(list.m_strTo);
    const std::string subject =
        std::string(recovered ? smtp::kRecoveredSubjectPrefix : "") + OneLine(list.m_strSubject);

    if (!options.unusable.empty())
        return options.unusable;

    // The connection's budget starts now and covers the whole dialogue, TLS included.
    CSmtpConnection connection;
    const std::stop_callback abort(stop, [&connection] { connection.Abort(); });
    if (!connection.Connect(server, options.port))
        return smtp::kConnectFailed;

    const bool plain = options.IsPlain();
    if (plain) {
        if (const char* failed = Helo(connection, server))
            return failed;
    } else if (auto failed = smtp::OpenSession(connection, server, options)) {
        return *failed;
    }

    if (auto failed = Exchange(connection, !plain, "MAIL FROM:<" + from + ">\r\n", "25", smtp::kMailFromError,
                               smtp::kMailFromUnexpected))
        return *failed;
    if (auto failed =
            Exchange(connection, !plain, "RCPT TO:<" + to + ">\r\n", "25", smtp::kRcptToError, smtp::kRcptToUnexpected))
        return *failed;
    if (auto failed = Exchange(connection, !plain, "DATA\r\n", "354", smtp::kDataError, smtp::kDataUnexpected))
        return *failed;

    // Sent as held up to the first line break: no encoding, no other header. A failed send shows
    // up in the reply to the end of the body.
    connection.Send("From: " + from + "\r\n" + "To: " + to + "\r\n" + "Subject: " + subject + "\r\n\r\n");
    connection.Send(std::string(recovered ? smtp::kRecoveredHeading : smtp::kBodyHeading) + "\r\n");
    if (recovered) {
        for (const std::string& name : *recovered)
            connection.Send(DotStuffed(OneLine(name) + "\r\n"));
    } else {
        std::string behind; // the lines after the entry lines
        std::size_t row = 0;
        list.ForEach([&](const CItem& item) {
            if (item.m_bResult == 0 && !(holds && holds->Held(row))) {
                connection.Send(FailureLine(item));
                if (const std::int32_t count = holds ? holds->reach.Behind(row) : 0)
                    behind += DotStuffed(MailEntryName(item) + " " + BehindText(count) + "\r\n");
            }
            ++row;
        });
        if (!behind.empty())
            connection.Send("\r\n" + behind);
    }
    if (auto failed = Exchange(connection, !plain, "\r\n.\r\n", "25", smtp::kBodyError, smtp::kBodyUnexpected))
        return *failed;

    // The message is delivered; a server slow to say goodbye must not hold us.
    connection.Send("QUIT\r\n");
    return smtp::kOk;
}

} // namespace

std::string MailEntryName(const CItem& item) {
    const std::string kind = item.m_bConnect == 0 ? std::string("ICMP") : std::to_string(item.m_nPort);
    return OneLine(item.m_strAddress) + ":" + kind;
}

std::string SendMailAlert(const CItemList& list) {
    return SendMailAlert(list, SmtpOptions{});
}

std::string SendMailAlert(const CItemList& list, const SmtpOptions& options, const std::stop_token& stop,
                          const PassHolds* holds) {
    return SendMessage(list, options, stop, nullptr, holds);
}

std::string SendRecoveryMail(const CItemList& list, const SmtpOptions& options, const std::stop_token& stop,
                             const std::vector<std::string>& recovered) {
    return SendMessage(list, options, stop, &recovered, nullptr);
}
