#include "CAboutDlg.h"
#include "CCheckRunner.h"
#include "CHistoryChart.h"
#include "CItemDlg.h"
#include "CMailDlg.h"
#include "CMainDlg.h"
#include "CPagerDlg.h"
#include "CQtPeriodTimer.h"
#include "CSoundEffectPlayer.h"
#include "CSplashWindow.h"
#include "CommandLauncher.h"
#include "UserPrompts.h"

CMainDlg::Services DefaultMainDlgServices() {
    CMainDlg::Services services;
    services.timer = std::make_unique<CQtPeriodTimer>();
    services.soundPlayer = std::make_unique<CSoundEffectPlayer>([] { ui::Prompts().Beep(); });
    services.commandLauncher = std::make_unique<CShellCommandLauncher>();
    services.makeCheckRunner = [] { return std::make_unique<CCheckRunner>(); };
    services.editItem = [](CItem& item, QWidget* parent) {
        CItemDlg dlg(item, parent);
        dlg.DoModal();
    };
    // The main window ignores the result of its dialogs: the entry or the list is the channel.
    services.editPager = [](CItemList& list, QWidget* owner) { CPagerDlg(list, owner).DoModal(); };
    services.editMail = [](CItemList& list, QWidget* owner) { CMailDlg(list, owner).DoModal(); };
    services.showAbout = [](QWidget* parent) { CAboutDlg(parent).DoModal(); };
    services.showHistory = [](const QString& entry, const std::vector<HistorySample>& samples, QWidget* parent) {
        CHistoryChart(entry, samples, parent).exec();
    };
    services.showSplash = [](QWidget* owner) {
        CSplashWindow::EnableSplashScreen(true);
        ShowSplash(owner);
    };
    return services;
}
