#include "MailOptions.h"

#include "QtText.h"
#include "SmtpAlert.h"

#include "UniqueFd.h"

#include <QCommandLineParser>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

const QString kPort = QStringLiteral("smtp-port");
const QString kSecurity = QStringLiteral("smtp-security");
const QString kUser = QStringLiteral("smtp-user");
const QString kPasswordFile = QStringLiteral("smtp-password-file");
const QString kCaFile = QStringLiteral("smtp-ca-file");

// Reads the file into bytes, to its end or until bytes holds at least `most`. Returns 0 or errno.
int ReadFile(const std::string& path, std::string& bytes, std::size_t most = std::string::npos) {
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!file)
        return errno;
    char buffer[4096];
    for (ssize_t n = 0; bytes.size() < most && (n = ::read(file.Get(), buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno != EINTR)
            return errno;
        if (n > 0)
            bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return 0;
}

std::optional<SmtpOptions> Mistake(const std::string& text, int code, int& exitCode) {
    PrintError(text);
    exitCode = code;
    return std::nullopt;
}

std::optional<SmtpOptions> Mistake(const QString& text, int code, int& exitCode) {
    return Mistake(ToBytes(text), code, exitCode);
}

} // namespace

QList<QCommandLineOption> MailCommandLineOptions() {
    return {QCommandLineOption(kPort, QString(), QStringLiteral("N")),
            QCommandLineOption(kSecurity, QString(), QStringLiteral("MODE")),
            QCommandLineOption(kUser, QString(), QStringLiteral("NAME")),
            QCommandLineOption(kPasswordFile, QString(), QStringLiteral("PATH")),
            QCommandLineOption(kCaFile, QString(), QStringLiteral("PATH"))};
}

std::optional<SmtpOptions> ReadMailOptions(const QCommandLineParser& parser, int& exitCode) {
    for (const QString& name : {kPort, kSecurity, kUser, kPasswordFile, kCaFile}) {
        if (parser.values(name).size() > 1)
            return Mistake(QStringLiteral("--%1 given more than once").arg(name), kExitUsage, exitCode);
    }
    SmtpOptions options;
    if (parser.isSet(kSecurity)) {
        const auto security = SmtpSecurityFromName(ToBytes(parser.value(kSecurity)));
        if (!security)
            return Mistake(
                QStringLiteral("not a mail security (none, starttls or tls): '%1'").arg(parser.value(kSecurity)),
                kExitUsage, exitCode);
        options.security = *security;
    }
    if (parser.isSet(kPort)) {
        const std::optional<std::int32_t> port = ParseInt32(ToBytes(parser.value(kPort)));
        if (!port || *port < 1 || *port > 65535)
            return Mistake(QStringLiteral("not a port (1 to 65535): '%1'").arg(parser.value(kPort)), kExitUsage,
                           exitCode);
        options.port = static_cast<std::uint16_t>(*port);
    } else {
        options.port = options.security == SmtpSecurity::Tls ? SmtpOptions::kDefaultTlsPort : smtp::kPort;
    }
    if (parser.isSet(kUser) != parser.isSet(kPasswordFile))
        return Mistake(QStringLiteral("--smtp-user and --smtp-password-file go together"), kExitUsage, exitCode);
    if (parser.isSet(kUser)) {
        // A password goes unencrypted only when the user says so.
        if (!parser.isSet(kSecurity))
            return Mistake(QStringLiteral("--smtp-user needs --smtp-security (none sends the password unencrypted)"),
                           kExitUsage, exitCode);
        options.user = ToBytes(parser.value(kUser));
        if (options.user.empty())
            return Mistake(QStringLiteral("--smtp-user needs a name"), kExitUsage, exitCode);
        const std::string path = ToBytes(parser.value(kPasswordFile));
        if (const int error = ReadFile(path, options.password))
            return Mistake("cannot read the password file " + path + ": " + std::strerror(error), kExitFileError,
                           exitCode);
        // Strictly the file's bytes, less one line end at the end: an editor or "echo" adds one.
        if (options.password.ends_with('\n'))
            options.password.pop_back();
        if (options.password.ends_with('\r'))
            options.password.pop_back();
    }
    if (parser.isSet(kCaFile)) {
        if (options.security == SmtpSecurity::None)
            return Mistake(QStringLiteral("--smtp-ca-file needs --smtp-security starttls or tls"), kExitUsage,
                           exitCode);
        options.caFile = ToBytes(parser.value(kCaFile));
        std::string start; // the TLS library reads it all; this only tells a missing or unreadable file at once
        if (const int error = ReadFile(options.caFile, start, 1))
            return Mistake("cannot read the certificate file " + options.caFile + ": " + std::strerror(error),
                           kExitFileError, exitCode);
    }
    return options;
}

} // namespace cli
