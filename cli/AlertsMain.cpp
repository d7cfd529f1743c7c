// The alerts program: the commands that need the event loop, sound, the serial port or the
// network. pulsewick-cli hands them over by exec, so argv is the one the user gave it.
#include "Commands.h"
#include "FileSizeLimit.h"

#include <QCoreApplication>

#include <cstring>

int main(int argc, char* argv[]) {
    OutliveFileSizeLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pulsewick-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PULSEWICK_VERSION));

    constexpr struct {
        const char* name;
        int (*run)(const cli::Args& args);
    } kCommands[] = {{"monitor", cli::RunMonitor}, {"test-mail", cli::RunTestMail}, {"test-pager", cli::RunTestPager}};
    for (const auto& command : kCommands) {
        if (argc > 1 && std::strcmp(argv[1], command.name) == 0)
            return cli::FinishOutput(command.run(cli::Args(argv + 2, argv + argc)));
    }
    cli::PrintError(std::string("this program runs monitor, test-mail and test-pager for pulsewick-cli"));
    return cli::kExitUsage;
}
