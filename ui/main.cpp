#include "CDialog.h"
#include "ProgramIcon.h"
#include "ResourceIds.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(PULSEWICK_VERSION));
    ui::InstallProgramIcon();
    CDialog dialog(res::IDD_PULSEWICK_DIALOG);
    dialog.DoModal();
    return 0;
}
