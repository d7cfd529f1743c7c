// Start-up of the desktop program up to the first paint of the main window.
// Usage: startup_bench [LIST_FILE] [--screenshot FILE.png]
#include "CMainDlg.h"
#include "ProgramIcon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// Seconds since this process was started, from its start time in /proc.
double SecondsSinceProcessStart() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long startTicks = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 22)
            startTicks = std::stoull(field);
    }
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 -
           static_cast<double>(startTicks) / ticksPerSecond;
}

class FirstPaint : public QObject {
public:
    bool painted = false;
    qint64 atNs = 0;
    QElapsedTimer* clock = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            atNs = clock->nsecsElapsed();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer clock;
    clock.start();
    std::string listFile;
    const char* screenshot = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc)
            screenshot = argv[++i];
        else
            listFile = argv[i];
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::InstallProgramIcon();
    const qint64 appNs = clock.nsecsElapsed();

    CMainDlg dlg(DefaultMainDlgServices(), listFile);
    FirstPaint firstPaint;
    firstPaint.clock = &clock;
    dlg.installEventFilter(&firstPaint);
    dlg.show();
    const qint64 shownNs = clock.nsecsElapsed();
    app.exec();
    const double sinceProcessStart = SecondsSinceProcessStart();

    std::printf("QApplication ready: %.1f ms after main()\n", static_cast<double>(appNs) / 1e6);
    std::printf("main window built and shown: %.1f ms after main()\n", static_cast<double>(shownNs) / 1e6);
    std::printf("first paint of the main window: %.1f ms after main()\n", static_cast<double>(firstPaint.atNs) / 1e6);
    std::printf("process age at the end (includes loading the program): %.0f ms (10 ms resolution)\n",
                sinceProcessStart * 1000);
    if (screenshot) {
        QTimer::singleShot(200, &app, &QCoreApplication::quit);
        app.exec();
        dlg.grab().save(QString::fromLocal8Bit(screenshot));
    }
    return 0;
}
