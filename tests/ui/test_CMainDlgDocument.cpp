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
// written over; Cancel keeps that change, the window's list and the window. A save to another
// file asks nothing (the file dialog did), and each save notes the version written.
TEST_F(SaveOverChange, AsksBeforeOverwritingAChangeOfAnotherProgram) {
    enum class How { save, saveElsewhere, close }; // close: "Save changes to office.pwk?" on Escape
    struct Case {
        const char* what;
        bool changedOutside;
        How how;
        ui::OverwriteAnswer answer;
        std::pair<int, int> onDisk; // pop-up and period of office.pwk
    };
    const Case cases[] = {
        {"save, nothing changed outside", false, How::save, ui::OverwriteAnswer::cancel, {1, 15}},
        {"save, overwrite", true, How::save, ui::OverwriteAnswer::overwrite, {1, 15}},
        {"save, cancel", true, How::save, ui::OverwriteAnswer::cancel, {0, 7}},
        {"save to another file", true, How::saveElsewhere, ui::OverwriteAnswer::cancel, {0, 7}},
        {"close, nothing changed outside", false, How::close, ui::OverwriteAnswer::cancel, {1, 15}},
        {"close, overwrite", true, How::close, ui::OverwriteAnswer::overwrite, {1, 15}},
        {"close, cancel", true, How::close, ui::OverwriteAnswer::cancel, {0, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MainDlgHarness& h = Open();
        if (c.changedOutside)
            SetPeriodOutside(m_path);
        h.prompts.overwriteAnswers = {c.answer};
        if (c.how == How::close) {
            h.prompts.saveAnswers = {ui::SaveAnswer::save};
            QTest::keyClick(&h.dlg(), Qt::Key_Escape);
        } else {
            SaveAs(c.how == How::save ? m_path : m_dir.file("other.pwk").string());
        }
        const bool asked = c.changedOutside && c.how != How::saveElsewhere;
        const bool cancelled = asked && c.answer == ui::OverwriteAnswer::cancel;
        EXPECT_EQ(h.prompts.overwriteQuestions, asked ? std::vector{kQuestion} : std::vector<QString>{});
        EXPECT_EQ(OnDisk(m_path), c.onDisk);
        EXPECT_EQ(h.dlg().List().m_bPopup, 1) << "the window's list stays as it was";
        EXPECT_EQ(h.dlg().List().m_nPeriod, 15);
        EXPECT_EQ(h.dlg().isWindowModified(), cancelled);
        EXPECT_EQ(h.dlg().isVisible(), c.how != How::close || cancelled);
        EXPECT_TRUE(h.prompts.messages.empty());
        if (c.how != How::close && !cancelled) {
            h.Click(IDC_POPUP);
            SaveAs(m_path); // over what this window wrote last, or (elsewhere) no longer its file
            EXPECT_EQ(h.prompts.overwriteQuestions.size(), asked ? 1u : 0u) << "asked again";
            EXPECT_EQ(OnDisk(m_path).first, 0);
        }
    }
}
