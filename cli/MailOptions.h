#pragma once

#include "SmtpOptions.h"

#include <QCommandLineOption>
#include <QList>

#include <optional>

class QCommandLineParser;

namespace cli {

// The e-mail alert's provider settings of "monitor" and "test-mail", which the list file does
// not hold: --smtp-port N, --smtp-security none|starttls|tls, --smtp-user NAME,
// --smtp-password-file PATH (systemd's LoadCredential= gives one), --smtp-ca-file PATH.

QList<QCommandLineOption> MailCommandLineOptions();

// Reads the options from a parser that has parsed MailCommandLineOptions. Without --smtp-port
// the port is 465 with TLS and otherwise 25. A login needs the security said outright.
// On a mistake prints why on stderr, sets exitCode (usage error, or a file that cannot be
// read) and returns nothing.
std::optional<SmtpOptions> ReadMailOptions(const QCommandLineParser& parser, int& exitCode);

} // namespace cli
