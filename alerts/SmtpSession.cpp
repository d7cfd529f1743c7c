#include "SmtpSession.h"

#include "CSmtpConnection.h"
#include "SmtpAlert.h"
#include "SmtpOptions.h"

#include <QByteArray>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <sstream>
#include <vector>

namespace smtp {

namespace {

bool HasCode(const std::string& reply, const char* code) {
    return reply.compare(0, 3, code) == 0;
}

std::string Refused(const char* what, const std::string& reply) {
    return std::string(what) + " (" + FirstLine(reply) + ")";
}

std::string Base64(const std::string& text) {
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    return bytes.toBase64().toStdString();
}

// The keywords a server's EHLO reply offers, upper case, each line's words after the code:
// "250-AUTH PLAIN LOGIN" gives AUTH, PLAIN and LOGIN on one line.
std::vector<std::vector<std::string>> Extensions(const std::string& reply) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(reply);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 4)
            continue;
        std::string words = line.substr(4);
        std::transform(words.begin(), words.end(), words.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        std::replace(words.begin(), words.end(), '=', ' '); // "AUTH=PLAIN" of older servers
        std::istringstream split(words);
        std::vector<std::string> parts;
        for (std::string word; split >> word;)
            parts.push_back(word);
        if (!parts.empty())
            lines.push_back(std::move(parts));
    }
    return lines;
}

bool Offers(const std::string& ehloReply, const std::string& keyword, const std::string& parameter = {}) {
    for (const auto& words : Extensions(ehloReply)) {
        if (words.front() != keyword)
            continue;
        if (parameter.empty() || std::find(words.begin() + 1, words.end(), parameter) != words.end())
            return true;
    }
    return false;
}

// This machine's name for EHLO, which a server may log but must not judge.
std::string ClientName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

// Sends one command and takes the whole reply; nothing when it begins with code.
std::optional<std::string> Step(CSmtpConnection& connection, const std::string& command, const char* code,
                                const char* error, const char* refused, std::string& reply) {
    connection.Send(command);
    if (!connection.ReceiveReply(reply))
        return error;
    if (!HasCode(reply, code))
        return Refused(refused, reply);
    return std::nullopt;
}

std::optional<std::string> LogIn(CSmtpConnection& connection, const std::string& ehloReply,
                                 const SmtpOptions& options) {
    std::string reply;
    if (Offers(ehloReply, "AUTH", "PLAIN")) {
        const std::string token = Base64(std::string(1, '\0') + options.user + '\0' + options.password);
        return Step(connection, "AUTH PLAIN " + token + "\r\n", "235", kLoginError, kLoginRefused, reply);
    }
    if (!Offers(ehloReply, "AUTH", "LOGIN"))
        return kNoLoginMethod;
    if (auto failed = Step(connection, "AUTH LOGIN\r\n", "334", kLoginError, kLoginRefused, reply))
        return failed;
    if (auto failed = Step(connection, Base64(options.user) + "\r\n", "334", kLoginError, kLoginRefused, reply))
        return failed;
    return Step(connection, Base64(options.password) + "\r\n", "235", kLoginError, kLoginRefused, reply);
}

} // namespace

std::string FirstLine(const std::string& reply) {
    const std::string line = reply.substr(0, reply.find_first_of("\r\n"));
    return line.empty() ? std::string("no reply") : line;
}

std::optional<std::string> OpenSession(CSmtpConnection& connection, const std::string& server,
                                       const SmtpOptions& options) {
    if (options.security == SmtpSecurity::Tls) {
        if (auto failed = connection.StartTls(server, options.caFile))
            return failed;
    }
    std::string reply;
    if (!connection.ReceiveReply(reply))
        return std::string(kNoGreeting);
    if (!HasCode(reply, "220"))
        return Refused(kGreetingRefused, reply);

    const std::string ehlo = "EHLO " + ClientName() + "\r\n";
    if (auto failed = Step(connection, ehlo, "250", kEhloError, kEhloRefused, reply))
        return failed;

    if (options.security == SmtpSecurity::StartTls) {
        if (!Offers(reply, "STARTTLS"))
            return std::string(options.user.empty() ? kNoStartTls : kNoStartTlsPasswordKept);
        if (auto failed = Step(connection, "STARTTLS\r\n", "220", kStartTlsError, kStartTlsRefused, reply))
            return failed;
        if (auto failed = connection.StartTls(server, options.caFile))
            return failed;
        // What the server offered before encryption counts no more.
        if (auto failed = Step(connection, ehlo, "250", kEhloError, kEhloRefused, reply))
            return failed;
    }

    if (!options.user.empty())
        return LogIn(connection, reply, options);
    return std::nullopt;
}

} // namespace smtp
