// Saving the window's list over a file that another program changed since the window read it.
#include "MainDlgHarness.h"

#include "CItemList.h"
#include "ListFile.h"
#include "ResourceIds.h"
#include "RunProgram.h"
#include "TempDir.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace res;

namespace {

const QString kQuestion =
    QStringLiteral("office.pwk was changed by another program since it was loaded or last saved. Overwrite it?");

// Runs pulsewick-cli with args; returns its exit status.
int Companion(std::vector<std::string> args) {
    args.insert(args.begin(), PULSEWICK_CLI);
    return testsupport::RunProgram(std::move(args));
}

class SaveOverChange : public ::testing::Test {
protected:
    // A new window on a new office.pwk, with a change of its own (the pop-up switched on) not yet saved.
    MainDlgHarness& Open() {
        m_h.reset(); // its prompts go first
        m_h = std::make_unique<MainDlgHarness>();
        EXPECT_TRUE(SaveListFile(CItemList(), m_path).Succeeded());
        m_h->Open(m_path);
        m_h->Click(IDC_POPUP);
        return *m_h;
    }
    // The companion sets the period of a file to 7.
    void SetPeriodOutside(const std::string& path) { EXPECT_EQ(Companion({"set", path, "period", "7"}), 0); }
    void SaveAs(const std::string& path) {
        m_h->prompts.fileAnswers = {QString::fromStdString(path)};
        m_h->Click(IDC_SAVE_LIST);
    }
    // The pop-up and the period in a file.
    static std::pair<int, int> OnDisk(const std::string& path) {
        const ListFileLoadResult loaded = LoadListFile(path);
        EXPECT_TRUE(loaded.HasList()) << path;
        return loaded.HasList() ? std::pair{loaded.list->m_bPopup, loaded.list->m_nPeriod} : std::pair{-1, -1};
    }

    testsupport::TempDir m_dir;
    std::unique_ptr<MainDlgHarness> m_h;
    std::string m_path = m_dir.file("office.pwk").string();
};

} // namespace

// Save and the save of the unsaved-changes question ask before a change of another program is
// written over; Cancel keeps that change, the window's list and the window.
TEST_F(SaveOverChange, AsksBeforeOverwritingAChangeOfAnotherProgram) {
    struct Case {
        const char* what;
        bool changedOutside;
        bool byClosing; // through "Save changes to office.pwk?" on Escape, else the Save button
        ui::OverwriteAnswer answer;
        std::pair<int, int> onDisk; // pop-up and period
    };
    const Case cases[] = {
        {"save, nothing changed outside", false, false, ui::OverwriteAnswer::cancel, {1, 15}},
        {"save, overwrite", true, false, ui::OverwriteAnswer::overwrite, {1, 15}},
        {"save, cancel", true, false, ui::OverwriteAnswer::cancel, {0, 7}},
        {"close, nothing changed outside", false, true, ui::OverwriteAnswer::cancel, {1, 15}},
        {"close, overwrite", true, true, ui::OverwriteAnswer::overwrite, {1, 15}},
        {"close, cancel", true, true, ui::OverwriteAnswer::cancel, {0, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MainDlgHarness& h = Open();
        if (c.changedOutside)
            SetPeriodOutside(m_path);
        h.prompts.overwriteAnswers = {c.answer};
        if (c.byClosing) {
            h.prompts.saveAnswers = {ui::SaveAnswer::save};
            QTest::keyClick(&h.dlg(), Qt::Key_Escape);
        } else {
            SaveAs(m_path);
        }
        const bool cancelled = c.changedOutside && c.answer == ui::OverwriteAnswer::cancel;
        EXPECT_EQ(h.prompts.overwriteQuestions, c.changedOutside ? std::vector{kQuestion} : std::vector<QString>{});
        EXPECT_EQ(OnDisk(m_path), c.onDisk);
        EXPECT_EQ(h.dlg().List().m_bPopup, 1) << "the window's list stays as it was";
        EXPECT_EQ(h.dlg().List().m_nPeriod, 15);
        EXPECT_EQ(h.dlg().isWindowModified(), cancelled);
        EXPECT_EQ(h.dlg().isVisible(), !c.byClosing || cancelled);
        EXPECT_TRUE(h.prompts.messages.empty());
    }
}

// What the window compares with is the file's version at its last load or save, and only the
// file it loaded or saved last is compared at all.
TEST_F(SaveOverChange, EachLoadAndSaveNotesTheVersionCompared) {
    MainDlgHarness& h = Open();
    const std::string other = m_dir.file("other.pwk").string();
    SetPeriodOutside(m_path);
    SaveAs(other); // another file: no question, though the loaded one changed
    EXPECT_TRUE(h.prompts.overwriteQuestions.empty());
    SaveAs(m_path); // no longer the window's file: the file dialog asked already
    EXPECT_TRUE(h.prompts.overwriteQuestions.empty());
    EXPECT_EQ(OnDisk(m_path), std::pair(1, 15));

    h.Click(IDC_POPUP);
    SaveAs(m_path); // saved just now by the window itself
    EXPECT_TRUE(h.prompts.overwriteQuestions.empty());

    SetPeriodOutside(m_path);
    h.prompts.fileAnswers = {QString::fromStdString(m_path)};
    h.Click(IDC_LOAD_LIST);
    EXPECT_EQ(h.dlg().List().m_nPeriod, 7);
    h.Click(IDC_POPUP);
    SaveAs(m_path); // loaded just now
    EXPECT_TRUE(h.prompts.overwriteQuestions.empty());
    EXPECT_EQ(OnDisk(m_path), std::pair(1, 7));
}
