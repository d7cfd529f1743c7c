#include "CDialog.h"
#include "ResourceIds.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(PULSEWICK_VERSION));
    CDialog dialog(res::IDD_PULSEWICK_DIALOG);
    dialog.DoModal();
    return 0;
}
