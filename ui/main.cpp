#include "CMonitorApp.h"
#include "FileSizeLimit.h"
#include "ProgramIcon.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    OutliveFileSizeLimit();
    // The tail is the list file's path exactly as given, so take it before Qt removes its options.
    const std::string tail = CMonitorApp::CommandLineTail(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(PULSEWICK_VERSION));
    ui::InstallProgramIcon();
    CMonitorApp theApp(tail);
    return theApp.InitInstance();
}
