#include "CItemList.h"
#include "CPagerDlg.h"
#include "FakeUserPrompts.h"
#include "ResourceIds.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const char* const kEnterInteger = "Please enter an integer.";
const char* const kPauseRange = "Please enter an integer between 0 and 50.";

// A pager dialog opened (not modally) on a list, as the main window would show it.
class PagerDlgTest : public ::testing::Test {
protected:
    void Open() {
        dlg = std::make_unique<CPagerDlg>(list, nullptr);
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }
    QLineEdit* Edit(int id) { return dlg->GetDlgItem<QLineEdit>(id); }
    QComboBox* Ports() { return dlg->GetDlgItem<QComboBox>(res::IDC_COM_PORT); }
    void Press(int id) { dlg->GetDlgItem<QPushButton>(id)->click(); }

    // Every pager setting, to compare a list before and after.
    static auto Settings(const CItemList& l) {
        return std::tuple(l.m_strModemInit, l.m_strMessageCode, l.m_strPagerNumber, l.m_nPause, l.m_nComPort);
    }

    FakeUserPrompts prompts;
    CItemList list;
    std::unique_ptr<CPagerDlg> dlg;
};

TEST_F(PagerDlgTest, OpensWithTheValuesOfANewListAndOkKeepsThem) {
    Open();
    EXPECT_EQ(dlg->windowTitle(), "Pager properties");
    ASSERT_EQ(Ports()->count(), 9);
    EXPECT_EQ(Ports()->itemText(0), "COM1:");
    EXPECT_EQ(Ports()->itemText(8), "COM9:");
    EXPECT_EQ(Ports()->currentText(), "COM2:");
    // Closed, the port list is one line high, not as tall as its opened list.
    EXPECT_LE(Ports()->height(), Edit(res::IDC_MODEM_INIT)->height() * 3 / 2);
    EXPECT_FALSE(Ports()->geometry().intersects(Edit(res::IDC_MODEM_INIT)->geometry()));
    EXPECT_EQ(Edit(res::IDC_MODEM_INIT)->text(), "AT Q0 E0 M0 V0");
    EXPECT_EQ(Edit(res::IDC_PAUSE)->text(), "5");
    EXPECT_EQ(Edit(res::IDC_PAGER_NUMBER)->text(), "5551234");
    EXPECT_EQ(Edit(res::IDC_MESSAGE_CODE)->text(), "1");

    const auto before = Settings(list);
    Press(res::IDOK);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(Settings(list), before);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(PagerDlgTest, OkCopiesEveryFieldIntoTheListEmptyOnesToo) {
    Open();
    Edit(res::IDC_MODEM_INIT)->clear(); // empty texts are accepted
    Edit(res::IDC_MESSAGE_CODE)->setText("911");
    Edit(res::IDC_PAGER_NUMBER)->setText("0,5550000");
    Edit(res::IDC_PAUSE)->setText("50");
    Ports()->setCurrentIndex(8);
    Press(res::IDOK);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(Settings(list), std::tuple(std::string(), std::string("911"), std::string("0,5550000"), 50, 8));
}

TEST_F(PagerDlgTest, APortIndexOutsideTheListSelectsNoneAndOkStoresMinusOne) {
    for (const std::int32_t index : {9, -1, 1000, -7}) {
        SCOPED_TRACE(index);
        list.m_nComPort = index;
        Open();
        EXPECT_EQ(Ports()->currentIndex(), -1);
        Press(res::IDOK);
        EXPECT_EQ(list.m_nComPort, -1);
    }
}

TEST_F(PagerDlgTest, PauseTextsAreReadLikeTheOtherIntegerFields) {
    const struct {
        const char* text;
        std::int32_t stored;
    } accepted[] = {{"0", 0}, {" \t7\t ", 7}, {"+12", 12}, {"050", 50}};
    for (const auto& c : accepted) {
        SCOPED_TRACE(c.text);
        Open();
        Edit(res::IDC_PAUSE)->setText(QString::fromLatin1(c.text));
        Press(res::IDOK);
        EXPECT_TRUE(prompts.messages.empty());
        EXPECT_EQ(list.m_nPause, c.stored);
    }
}

// Each refused pause: the message once, the field focused and selected, the dialog open and
// no setting in the list, also after a following Cancel.
TEST_F(PagerDlgTest, RefusedPauseWritesNothingEvenAfterCancel) {
    const struct {
        const char* text;
        const char* message;
    } refused[] = {{"51", kPauseRange},    {"-1", kPauseRange},   {"99999999999", kPauseRange}, {"", kEnterInteger},
                   {"   ", kEnterInteger}, {"5x", kEnterInteger}, {"-0", kEnterInteger},        {"x", kEnterInteger}};
    for (const auto& c : refused) {
        SCOPED_TRACE(c.text);
        prompts.messages.clear();
        const auto before = Settings(list);
        Open();
        Edit(res::IDC_MODEM_INIT)->setText("ATZ");
        Ports()->setCurrentIndex(4);
        Edit(res::IDC_PAUSE)->setText(QString::fromLatin1(c.text));
        Press(res::IDOK);

        ASSERT_EQ(prompts.Texts(), QStringList{QString::fromLatin1(c.message)});
        EXPECT_EQ(prompts.messages[0].icon, ui::MessageIcon::warning);
        EXPECT_EQ(prompts.messages[0].caption, "Test_CPagerDlg") << "the executable's name, written as a name";
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(QApplication::focusWidget(), Edit(res::IDC_PAUSE));
        EXPECT_EQ(Edit(res::IDC_PAUSE)->selectedText(), QString::fromLatin1(c.text));
        EXPECT_EQ(Settings(list), before);

        Press(res::IDCANCEL);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(Settings(list), before);
    }
}

TEST_F(PagerDlgTest, CancelAndEscapeLeaveTheList) {
    Open();
    Edit(res::IDC_PAGER_NUMBER)->setText("123");
    Edit(res::IDC_PAUSE)->setText("9");
    Ports()->setCurrentIndex(0);
    const auto before = Settings(list);
    Press(res::IDCANCEL);
    EXPECT_EQ(Settings(list), before);

    Open();
    Edit(res::IDC_PAGER_NUMBER)->setText("123");
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(Settings(list), before);
}

} // namespace
