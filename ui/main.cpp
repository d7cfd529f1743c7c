#include "CMonitorApp.h"
#include "FileSizeLimit.h"
#include "ProgramIcon.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// Answered before Qt starts, so that they work without a display (a terminal on a server, the
// manual page's check). Only a tail that is exactly one of these is taken as an option: any other
// tail is a list file's path, as it always was ("./--help" names a file of that name).
bool AnswerInformationOption(int argc, char* argv[]) {
    if (argc != 2)
        return false;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs("Usage: pulsewick [LIST]\n"
                   "Watches network hosts in a window and raises alarms when they stop answering.\n\n"
                   "Everything after the program name is the path of a list file (.pwk) to load at start-up,\n"
                   "as Load List does; when that list has \"Start Automatically\" set, monitoring begins at once.\n\n"
                   "Options (alone on the command line):\n"
                   "  -h, --help     Show this help.\n"
                   "  -v, --version  Show the version.\n\n"
                   "The window's manual opens from its Help button; pulsewick-cli --help shows the companion\n"
                   "for servers and scripts.\n",
                   stdout);
        return true;
    }
    if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0) {
        std::puts("pulsewick " PULSEWICK_VERSION);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    OutliveFileSizeLimit();
    if (AnswerInformationOption(argc, argv))
        return 0;
    // The tail is the list file's path exactly as given, so take it before Qt removes its options.
    const std::string tail = CMonitorApp::CommandLineTail(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(PULSEWICK_VERSION));
    ui::InstallProgramIcon();
    CMonitorApp theApp(tail);
    return theApp.InitInstance();
}
