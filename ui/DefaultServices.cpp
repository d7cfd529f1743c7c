#include "CAboutDlg.h"
#include "CCheckRunner.h"
#include "CHistoryChart.h"
#include "CItemDlg.h"
#include "CMailAccount.h"
#include "CMailDlg.h"
#include "CMainDlg.h"
#include "CPagerDlg.h"
#include "CQtPeriodTimer.h"
#include "CSoundEffectPlayer.h"
#include "CSplashWindow.h"
#include "CommandLauncher.h"
#include "PassHolds.h"
#include "SmtpAlert.h"
#include "UserPrompts.h"

#include <memory>

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
    // The provider settings and the password, shared by the dialog and the alert.
    const auto account = std::make_shared<CMailAccount>();
    services.editMail = [account](CItemList& list, QWidget* owner) { CMailDlg(list, account.get(), owner).DoModal(); };
    services.sendMail = [account](const CItemList& list, const PassHolds& holds, std::stop_token stop) {
        return ::SendMailAlert(list, account->Options(), stop, &holds);
    };
    services.sendRecoveryMail = [account](const CItemList& list, std::stop_token stop,
                                          const std::vector<std::string>& recovered) {
        return ::SendRecoveryMail(list, account->Options(), stop, recovered);
    };
    services.showAbout = [](QWidget* parent) { CAboutDlg(parent).DoModal(); };
    services.showHistory = [](const QString& entry, const EntryRecord& record, QWidget* parent) {
        CHistoryChart(entry, record, parent).exec();
    };
    services.showSplash = [](QWidget* owner) {
        CSplashWindow::EnableSplashScreen(true);
        ShowSplash(owner);
    };
    return services;
}
