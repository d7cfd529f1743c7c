// The main window's life beside the system tray: shown as an ordinary window while the tray icon
// keeps answering, hidden to the tray by the close box while monitoring, shown again or ended
// from the tray's menu.
#include "CMainDlg.h"

#include "CScheduler.h"
#include "CTrayIcon.h"
#include "UserSettings.h"
#include "WindowGeometry.h"

#include <QCloseEvent>
#include <QEventLoop>

namespace {
constexpr const char* kMinimiseToTrayKey = "window/minimiseToTray";
} // namespace

int CMainDlg::exec() {
    // Not modal to the application: a modal window would shut out the tray icon, its tooltip
    // and its menu for as long as it is on the screen. The window's own dialogs are modal to the
    // window alone. The program runs until the window ends (Close, Quit, the session's end).
    setWindowModality(Qt::NonModal);
    QEventLoop loop;
    const QMetaObject::Connection ended = connect(this, &QDialog::finished, &loop, [&loop] { loop.quit(); });
    setResult(QDialog::Rejected);
    show();
    loop.exec();
    disconnect(ended);
    // Told to quit by the application (the session ends) while hidden in the tray or shown.
    if (IsRunning())
        StopMonitoring();
    hide();
    return result();
}

void CMainDlg::EndProgram() {
    if (m_scheduler->m_bRunning)
        StopMonitoring();
    EndDialog(QDialog::Rejected);
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    // The close box while monitoring with "minimise to tray": the window goes, monitoring stays.
    // ("&Close", Escape and Enter come as commands, not here: they end the program.)
    if (!m_bSessionEnding && IsRunning() && m_tray && m_tray->IsShown() && MinimiseToTray()) {
        event->ignore();
        hide();
        return;
    }
    CDialog::closeEvent(event);
}

void CMainDlg::ShowFromTray() {
    if (!isVisible())
        m_geometry->ShowAgain();
    raise();
    activateWindow();
}

void CMainDlg::Quit() {
    if (m_bInCheckRun)
        return;
    if (!ConfirmDiscardChanges())
        return;
    EndProgram();
}

bool CMainDlg::MinimiseToTray() {
    return ui::UserSettings().value(QString::fromLatin1(kMinimiseToTrayKey), false).toBool();
}

void CMainDlg::SetMinimiseToTray(bool on) {
    ui::UserSettings().setValue(QString::fromLatin1(kMinimiseToTrayKey), on);
}
