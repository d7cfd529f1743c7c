// Main-thread CPU time while the window waits for a check run whose probe gets no answer:
// the wait must sleep, not spin. The host is a loopback port whose handshake is never answered.
// Usage: check_run_cpu_bench [SECONDS] [ENTRIES]   (defaults 10 and 1000, all probed at once)
#include "CMainDlg.h"

#include "CItemList.h"
#include "CProgressDlg.h"
#include "LoopbackPorts.h"
#include "ThreadCpuTime.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>

namespace {

using testsupport::ProcessCpuSeconds;
using testsupport::ThreadCpuSeconds;

} // namespace

int main(int argc, char* argv[]) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int entries = argc > 2 ? std::atoi(argv[2]) : 1000;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    testsupport::LoopbackPort silent(testsupport::LoopbackPort::Kind::stalled);
    CMainDlg dlg(DefaultMainDlgServices());
    for (int i = 0; i < entries; ++i) {
        auto item = std::make_unique<CItem>();
        item->m_strAddress = "127.0.0.1";
        item->m_nPort = silent.Port();
        dlg.List().AddTail(std::move(item));
    }
    dlg.RefreshList();
    dlg.show();
    QCoreApplication::processEvents();

    // Press Cancel once the wall time is up.
    QTimer::singleShot(seconds * 1000, &dlg, [&dlg] {
        if (auto* progress = dlg.findChild<CProgressDlg*>())
            progress->GetDlgItem<QAbstractButton>(2)->click();
    });
    QElapsedTimer wall;
    wall.start();
    const double thread0 = ThreadCpuSeconds();
    const double process0 = ProcessCpuSeconds();
    const int result = dlg.CheckConnections();
    const double wallSeconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double threadCpu = ThreadCpuSeconds() - thread0;
    const double processCpu = ProcessCpuSeconds() - process0;
    std::printf("check run on %d silent entries: %.2f s wall, result %d\n", entries, wallSeconds, result);
    std::printf("main thread CPU %.3f s = %.2f %% of the wall time (target < 1 %%)\n", threadCpu,
                100.0 * threadCpu / wallSeconds);
    std::printf("whole process CPU %.3f s = %.2f %%\n", processCpu, 100.0 * processCpu / wallSeconds);
    return 0;
}
