#include "Commands.h"

#include "CItemList.h"
#include "SmtpAlert.h"

namespace cli {

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
