#include "ProgramIcon.h"

#include <QApplication>

namespace ui {

namespace {
// Sizes rendered from res/icons/pulsewick.svg; the desktop picks the nearest.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
} // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : kIconSizes)
        icon.addFile(QStringLiteral(":/pulsewick/icons/pulsewick-%1.png").arg(size), QSize(size, size));
    return icon;
}

void InstallProgramIcon() {
    QApplication::setWindowIcon(ProgramIcon());
    // Lets Wayland compositors match the windows with the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("pulsewick"));
}

} // namespace ui
