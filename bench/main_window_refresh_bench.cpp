// Loading a list of many entries into the main window: the file read, the list view rebuilt,
// and the first paint of the rebuilt view.
// Usage: main_window_refresh_bench [ENTRIES]   (default 100000)
#include "CMainDlg.h"

#include "CItemList.h"
#include "ListFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

int main(int argc, char* argv[]) {
    const long entries = argc > 1 ? std::atol(argv[1]) : 100000;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    CItemList list;
    list.Reserve(static_cast<std::size_t>(entries));
    for (long i = 0; i < entries; ++i) {
        auto item = std::make_unique<CItem>();
        item->m_strAddress = "host-" + std::to_string(i) + ".example.invalid";
        item->m_bConnect = i % 3 == 0 ? 0 : 1;
        item->m_nPort = static_cast<std::int32_t>(1 + i % 65535);
        item->m_bResult = static_cast<std::int32_t>(i % 2);
        list.AddTail(std::move(item));
    }
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("pulsewick-refresh-bench-" + std::to_string(getpid()) + ".pwk");
    if (!SaveListFile(list, path.string()).Succeeded()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }

    CMainDlg dlg(DefaultMainDlgServices());
    dlg.show();
    QCoreApplication::processEvents();

    for (int round = 1; round <= 3; ++round) {
        QElapsedTimer clock;
        clock.start();
        const ListFileLoadResult loaded = LoadListFile(path.string());
        const double readMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        clock.restart();
        const auto outcome = dlg.LoadListFile(path.string());
        const double loadAndRefreshMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        clock.restart();
        dlg.RefreshList();
        const double refreshMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        clock.restart();
        dlg.ListView()->repaint();
        QCoreApplication::processEvents();
        const double paintMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        std::printf("round %d: %ld entries: file read %.1f ms; window load (read + RefreshList) %.1f ms; "
                    "RefreshList alone %.1f ms; paint %.1f ms%s\n",
                    round, entries, readMs, loadAndRefreshMs, refreshMs, paintMs,
                    outcome == CMainDlg::LoadOutcome::loaded && loaded.HasList() ? "" : " (LOAD FAILED)");
    }
    std::filesystem::remove(path);
    return 0;
}
