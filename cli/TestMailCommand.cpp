#include "Commands.h"

#include "CItemList.h"
#include "MailOptions.h"
#include "QtText.h"
#include "SmtpAlert.h"

#include <QCommandLineParser>

namespace cli {

int RunTestMail(const Args& argv) {
    const QStringList args = ToQStringList(argv);
    // "--" ends the options for QCommandLineParser; this command has always refused it.
    QCommandLineParser parser;
    parser.addOptions(MailCommandLineOptions());
    if (args.contains(QStringLiteral("--")) || !parser.parse(QStringList{QStringLiteral("test-mail")} + args) ||
        parser.positionalArguments().size() != 1)
        return UsageError(kTestMailSynopsis);
    int exitCode = kExitOk;
    const std::optional<SmtpOptions> options = ReadMailOptions(parser, exitCode);
    if (!options)
        return exitCode == kExitUsage ? UsageError(kTestMailSynopsis) : exitCode;
    const std::unique_ptr<CItemList> list = LoadListOrReport(ToBytes(parser.positionalArguments().front()), exitCode);
    if (!list)
        return exitCode;
    const std::string outcome = SendMailAlert(*list, *options);
    PrintOut(outcome + "\n");
    return outcome == smtp::kOk ? kExitOk : kExitFailed;
}

} // namespace cli
