#include "X11TestMain.h"

#include <QApplication>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kSkipped = 77;
constexpr int kStartMs = 10000;
} // namespace

int RunTestsUnderX11(int argc, char* argv[], QSize screen) {
    for (const char* tool : {"Xvfb", "openbox", "xprop"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::printf("skipped: %s not found\n", tool);
            return kSkipped;
        }
    }
    // Xvfb picks a free display and names it on its standard output.
    QProcess xvfb;
    const QString geometry = QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height());
    xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", geometry, "-nolisten", "tcp"});
    if (!xvfb.waitForReadyRead(kStartMs)) {
        std::printf("Xvfb did not start\n");
        return 1;
    }
    const QByteArray display = ":" + xvfb.readLine().trimmed();
    ::setenv("DISPLAY", display.constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QProcess openbox;
    openbox.start(QStringLiteral("openbox"), {"--sm-disable"});
    // The window manager is up once it has announced itself on the root window.
    bool managed = false;
    for (int waited = 0; waited < kStartMs && !managed; waited += 50) {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"});
        xprop.waitForFinished(kStartMs);
        managed = xprop.readAllStandardOutput().contains("window id");
        if (!managed)
            QThread::msleep(50);
    }
    // A panel with a system tray where there is one; tests that need it skip without it.
    QProcess panel;
    if (!QStandardPaths::findExecutable(QStringLiteral("tint2")).isEmpty())
        panel.start(QStringLiteral("tint2"));
    int status = 1;
    if (managed) {
        QApplication app(argc, argv);
        // The window keeps its size and choices in the user's settings: never the real user's here.
        QTemporaryDir settings;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    } else {
        std::printf("openbox did not start\n");
    }
    panel.terminate();
    panel.waitForFinished(kStartMs);
    openbox.terminate();
    openbox.waitForFinished(kStartMs);
    xvfb.terminate();
    xvfb.waitForFinished(kStartMs);
    return status;
}
