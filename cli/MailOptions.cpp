#include "MailOptions.h"

#include "QtText.h"
#include "SmtpAlert.h"

#include <QCommandLineParser>
#include <QFile>

namespace cli {

namespace {

const QString kPort = QStringLiteral("smtp-port");
const QString kSecurity = QStringLiteral("smtp-security");
const QString kUser = QStringLiteral("smtp-user");
const QString kPasswordFile = QStringLiteral("smtp-password-file");
const QString kCaFile = QStringLiteral("smtp-ca-file");

// Strictly the file's bytes, less one line end at the end: an editor or "echo" adds one.
std::optional<std::string> ReadPassword(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    return bytes.toStdString();
}

std::optional<SmtpOptions> Mistake(const QString& text, int code, int& exitCode) {
    PrintError(text);
    exitCode = code;
    return std::nullopt;
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
        QString error;
        const auto password = ReadPassword(parser.value(kPasswordFile), error);
        if (!password)
            return Mistake(
                QStringLiteral("cannot read the password file %1: %2").arg(parser.value(kPasswordFile), error),
                kExitFileError, exitCode);
        options.password = *password;
    }
    if (parser.isSet(kCaFile)) {
        if (options.security == SmtpSecurity::None)
            return Mistake(QStringLiteral("--smtp-ca-file needs --smtp-security starttls or tls"), kExitUsage,
                           exitCode);
        QFile file(parser.value(kCaFile));
        if (!file.open(QIODevice::ReadOnly))
            return Mistake(QStringLiteral("cannot read the certificate file %1: %2")
                               .arg(parser.value(kCaFile), file.errorString()),
                           kExitFileError, exitCode);
        options.caFile = ToBytes(parser.value(kCaFile));
    }
    return options;
}

} // namespace cli
