#include "Commands.h"

#include "CItemList.h"
#include "SmtpAlert.h"

#include <QByteArray>
#include <QtGlobal>

namespace cli {

namespace {
// Tests cannot count on binding port 25, so they may name another; the alert always uses 25.
constexpr const char* kPortOverride = "PULSEWICK_SMTP_PORT";

std::uint16_t SmtpPort() {
    bool ok = false;
    const int port = qEnvironmentVariableIntValue(kPortOverride, &ok);
    return ok && port > 0 && port <= 65535 ? static_cast<std::uint16_t>(port) : smtp::kPort;
}
} // namespace

int RunTestMail(const QStringList& args) {
    const std::optional<QString> path = ListAndSwitches(args, {});
    if (!path)
        return UsageError(kTestMailSynopsis);
    int exitCode = kExitOk;
    const std::unique_ptr<CItemList> list = LoadListOrReport(*path, exitCode);
    if (!list)
        return exitCode;
    const std::string outcome = SendMailAlert(*list, SmtpPort());
    PrintOut(outcome + "\n");
    return outcome == smtp::kOk ? kExitOk : kExitFailed;
}

} // namespace cli
