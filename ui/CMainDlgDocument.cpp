// The main window's list as a document: its file, what counts as unsaved, and the question
// before unsaved changes are given up.
#include "CMainDlg.h"

#include "CItemList.h"
#include "CListFileLock.h"
#include "ListCopy.h"
#include "ListFile.h"
#include "LocalText.h"
#include "ResourceIds.h"
#include "UserPrompts.h"
#include "UserSettings.h"

#include <QFileInfo>
#include <QLineEdit>

#include <cerrno>
#include <filesystem>

using namespace res;

namespace {
constexpr const char* kUntitled = "Untitled";
constexpr const char* kSaveQuestion = "Save changes to %1?";
constexpr const char* kChangedOutsideQuestion =
    "%1 was changed by another program since it was loaded or last saved. Overwrite it?";

// Whether two paths name the same file, also through links or another spelling.
bool SamePath(const std::string& a, const std::string& b) {
    std::error_code errorA;
    std::error_code errorB;
    const std::filesystem::path canonicalA = std::filesystem::weakly_canonical(a, errorA);
    const std::filesystem::path canonicalB = std::filesystem::weakly_canonical(b, errorB);
    return errorA || errorB ? a == b : canonicalA == canonicalB;
}

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

void CMainDlg::MarkSaved(const std::string& path, const std::optional<ListFileStamp>& stamp) {
    const std::string oldPath = std::exchange(m_strListPath, path);
    MutesFollowPath(oldPath);
    m_savedStamp = stamp;
    m_pSavedContent = CopyList(*m_pList);
    UpdateStatus();
}

bool CMainDlg::SaveListTo(const std::string& path) {
    // Over the file the list came from, another program (the companion, a second window) may have
    // saved a change of its own since: that is not lost without asking. The file stays locked from
    // the look to the save, so no change can fall in between unseen.
    CListFileLock lock;
    if (!m_strListPath.empty() && SamePath(path, m_strListPath)) {
        const int error = lock.Open(path, CListFileLock::Mode::exclusive);
        if (error == EWOULDBLOCK) {
            ui::ShowMessage(this, ui::FromLocal(OpenFailedText(path, error)), ui::MessageIcon::warning, true);
            return false;
        }
        const std::optional<ListFileStamp> onDisk = error ? std::nullopt : StampOf(lock.Descriptor());
        if (!onDisk) {
            lock.Release(); // gone, or a pipe or device: no content of another program's to lose
        } else if (onDisk != m_savedStamp) {
            lock.Release(); // other editors need not wait for the answer
            const QString question = QString::fromLatin1(kChangedOutsideQuestion).arg(DocumentName());
            if (ui::Prompts().AskOverwrite(this, question) != ui::OverwriteAnswer::overwrite)
                return false;
        }
    }
    const ListFileSaveResult result = SaveListFile(*m_pList, path, lock.IsLocked() ? &lock : nullptr);
    if (!result.Succeeded()) {
        ui::ShowMessage(this, ui::FromLocal(result.message), ui::MessageIcon::warning, true);
        return false;
    }
    MarkSaved(path, result.stamp);
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
