// The main window's list as a document: its file, what counts as unsaved, and the question
// before unsaved changes are given up.
#include "CMainDlg.h"

#include "CItemList.h"
#include "CTrayIcon.h"
#include "ListCopy.h"
#include "ListFile.h"
#include "LocalText.h"
#include "ResourceIds.h"
#include "UserPrompts.h"
#include "UserSettings.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>

using namespace res;

namespace {
constexpr const char* kUntitled = "Untitled";
constexpr const char* kSaveQuestion = "Save changes to %1?";
constexpr const char* kMinimiseToTrayKey = "window/minimiseToTray";
} // namespace

bool CMainDlg::FieldsDifferFromList() const {
    // The period and the command reach the list only when their field is left; a text typed
    // and not yet left is an edit all the same.
    const auto* period = GetDlgItem<QLineEdit>(IDC_PERIOD);
    const auto* execute = GetDlgItem<QLineEdit>(IDC_EXECUTE);
    return (period && period->text() != QString::number(m_pList->m_nPeriod)) ||
           (execute && execute->text() != ui::FromLocal(m_pList->m_strExecute));
}

bool CMainDlg::IsModified() const {
    return !SameContent(*m_pList, *m_pSavedContent) || FieldsDifferFromList();
}

QString CMainDlg::DocumentName() const {
    return m_strListPath.empty() ? QString::fromLatin1(kUntitled) : QFileInfo(ui::FromLocal(m_strListPath)).fileName();
}

void CMainDlg::MarkSaved(const std::string& path) {
    m_strListPath = path;
    m_pSavedContent = CopyList(*m_pList);
    UpdateStatus();
}

bool CMainDlg::SaveListTo(const std::string& path) {
    const ListFileSaveResult result = SaveListFile(*m_pList, path);
    if (!result.Succeeded()) {
        ui::ShowMessage(this, ui::FromLocal(result.message), ui::MessageIcon::warning, true);
        return false;
    }
    MarkSaved(path);
    return true;
}

bool CMainDlg::ConfirmDiscardChanges() {
    if (m_bSessionEnding || !IsModified())
        return true;
    const QString question = QString::fromLatin1(kSaveQuestion).arg(DocumentName());
    switch (ui::Prompts().AskSaveChanges(this, question)) {
    case ui::SaveAnswer::discard:
        return true;
    case ui::SaveAnswer::cancel:
        return false;
    case ui::SaveAnswer::save:
        break;
    }
    if (FieldsDifferFromList()) {
        // What is saved is what the window shows: commit the typed fields first. A period that
        // fails validation keeps the window open with the focus on it.
        if (!UpdateData(true))
            return false;
        m_pList->m_nPeriod = m_nPeriod;
        m_pList->m_strExecute = m_strExecute;
    }
    // A list with a file is saved to it, as editors do; a new one asks for a name first.
    return m_strListPath.empty() ? SaveListAs() : SaveListTo(m_strListPath);
}

void CMainDlg::OnSessionEnding() {
    // The desktop is logging out: a question now would hold up the whole session.
    m_bSessionEnding = true;
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    // The close box while monitoring with "minimise to tray": the window goes, monitoring stays.
    // ("&Close", Escape and Enter come as commands, not here: they end the program.)
    if (!m_bSessionEnding && IsRunning() && m_tray && m_tray->IsShown() && MinimiseToTray()) {
        m_bInTray = true;
        event->ignore();
        hide(); // ends this round of exec(); exec() then waits in the tray
        return;
    }
    CDialog::closeEvent(event);
}

int CMainDlg::exec() {
    for (;;) {
        const int result = CDialog::exec();
        if (!m_bInTray)
            return result;
        // Hidden to the tray: wait there until Show brings the window back or Quit ends it.
        QEventLoop tray;
        m_pTrayLoop = &tray;
        tray.exec();
        m_pTrayLoop = nullptr;
        // Quit from the tray, or the application told to quit (the session ends).
        if (m_bInTray || m_bEnded) {
            m_bInTray = false;
            if (IsRunning())
                StopMonitoring();
            return QDialog::Rejected;
        }
    }
}

void CMainDlg::ShowFromTray() {
    m_bInTray = false;
    if (m_pTrayLoop)
        m_pTrayLoop->quit(); // exec() shows the window again
    else
        show();
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
