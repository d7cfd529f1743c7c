#include "CDataExchange.h"
#include "CDialog.h"
#include "DialogInt.h"
#include "FakeUserPrompts.h"
#include "ResourceIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace res;

TEST(ParseDialogInt, FollowsTheFieldRules) {
    EXPECT_EQ(ParseDialogInt("  8080 \t"), 8080);
    EXPECT_EQ(ParseDialogInt("-5"), -5);
    EXPECT_EQ(ParseDialogInt("+7"), 7);
    EXPECT_EQ(ParseDialogInt("0"), 0);
    EXPECT_EQ(ParseDialogInt("\t00"), 0);
    EXPECT_EQ(ParseDialogInt("99999999999"), 2147483647);
    EXPECT_EQ(ParseDialogInt("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseDialogInt("2147483648"), 2147483647);
    for (const char* bad : {"", "   ", "80x", "-0", "+0", "-", "abc", "1 2", "0x10"})
        EXPECT_FALSE(ParseDialogInt(bad).has_value()) << '"' << bad << '"';
    // Only the first 31 characters count, so trailing garbage beyond them is never seen.
    EXPECT_EQ(ParseDialogInt(std::string(30, ' ') + "7xyz"), 7);
}

namespace {

// A dialog on the pager template exchanging one field of each kind.
class ExchangeDlg : public CDialog {
public:
    ExchangeDlg() : CDialog(IDD_PAGER) {}
    std::string m_strText = "AT";
    std::int32_t m_nPause = 5;
    std::int32_t m_nPort = 1;
    std::string m_strNumber = "555";
    int okCount = 0;

protected:
    void DoDataExchange(CDataExchange& dx) override {
        DDX_Text(dx, IDC_MODEM_INIT, m_strText);
        DDX_Text(dx, IDC_PAUSE, m_nPause, 0, 50);
        DDX_CBIndex(dx, IDC_COM_PORT, m_nPort);
        DDX_Text(dx, IDC_PAGER_NUMBER, m_strNumber);
    }
    void OnOK() override {
        ++okCount;
        CDialog::OnOK();
    }
};

} // namespace

TEST(DataExchange, WritesAndReadsEveryKind) {
    FakeUserPrompts prompts;
    ExchangeDlg dlg;
    dlg.m_strText = "ATZ \xc3\xa9";
    dlg.m_nPort = 42; // outside the list: nothing selected
    dlg.UpdateData(false);
    EXPECT_EQ(dlg.GetDlgItem<QLineEdit>(IDC_MODEM_INIT)->text(), QString::fromUtf8("ATZ \xc3\xa9"));
    EXPECT_EQ(dlg.GetDlgItem<QLineEdit>(IDC_PAUSE)->text(), "5");
    EXPECT_EQ(dlg.GetDlgItem<QComboBox>(IDC_COM_PORT)->currentIndex(), -1);

    dlg.GetDlgItem<QComboBox>(IDC_COM_PORT)->setCurrentIndex(3);
    dlg.GetDlgItem<QLineEdit>(IDC_PAUSE)->setText(" 50 ");
    ASSERT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.m_nPause, 50);
    EXPECT_EQ(dlg.m_nPort, 3);
    EXPECT_EQ(dlg.m_strText, "ATZ \xc3\xa9");
    EXPECT_TRUE(prompts.messages.empty());
}

TEST(DataExchange, AFailedFieldStopsTheReadKeepsItsValueAndTakesTheFocus) {
    FakeUserPrompts prompts;
    ExchangeDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    auto* pause = dlg.GetDlgItem<QLineEdit>(IDC_PAUSE);
    dlg.GetDlgItem<QLineEdit>(IDC_PAGER_NUMBER)->setText("999");

    struct Case {
        const char* text;
        QString message;
    } cases[] = {{"51", "Please enter an integer between 0 and 50."},
                 {"-1", "Please enter an integer between 0 and 50."},
                 {"", "Please enter an integer."},
                 {"5a", "Please enter an integer."}};
    for (const Case& c : cases) {
        prompts.messages.clear();
        pause->setText(c.text);
        dlg.GetDlgItem(IDC_MODEM_INIT)->setFocus();
        EXPECT_FALSE(dlg.UpdateData(true)) << c.text;
        ASSERT_EQ(prompts.messages.size(), 1u) << c.text;
        EXPECT_EQ(prompts.messages[0].text, c.message);
        EXPECT_EQ(prompts.messages[0].icon, ui::MessageIcon::warning);
        EXPECT_EQ(prompts.messages[0].caption, ui::ProgramName());
        EXPECT_EQ(dlg.m_nPause, 5) << "a refused value never reaches the member";
        EXPECT_EQ(dlg.m_strNumber, "555") << "fields after the failed one are not read";
        EXPECT_EQ(QApplication::focusWidget(), pause);
        EXPECT_EQ(pause->selectedText(), pause->text());
    }
}

TEST(DataExchange, RadioGroupsAndCheckBoxesIncludingNoneChecked) {
    CDialog dlg(IDD_PULSEWICK_DIALOG);
    struct MainExchange {
        static void Run(CDialog& d, bool save, std::int32_t& mode, std::int32_t& popup) {
            CDataExchange dx(d, save);
            DDX_Radio(dx, IDC_LOG_NEVER, mode);
            DDX_Check(dx, IDC_POPUP, popup);
        }
    };
    std::int32_t mode = 2, popup = 7;
    MainExchange::Run(dlg, false, mode, popup);
    EXPECT_TRUE(dlg.GetDlgItem<QRadioButton>(IDC_LOG_ALWAYS)->isChecked());
    EXPECT_TRUE(dlg.GetDlgItem<QCheckBox>(IDC_POPUP)->isChecked());
    MainExchange::Run(dlg, true, mode, popup);
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(popup, 1);

    mode = -1;
    popup = 0;
    MainExchange::Run(dlg, false, mode, popup);
    for (int id : {IDC_LOG_NEVER, IDC_LOG_ON_FAILURE, IDC_LOG_ALWAYS})
        EXPECT_FALSE(dlg.GetDlgItem<QRadioButton>(id)->isChecked());
    mode = 1;
    MainExchange::Run(dlg, true, mode, popup);
    EXPECT_EQ(mode, -1);
    EXPECT_EQ(popup, 0);
}

TEST(DialogCommands, EnterEscapeAndCloseBoxGiveOkAndCancel) {
    FakeUserPrompts prompts;
    {
        ExchangeDlg dlg;
        dlg.show();
        dlg.GetDlgItem<QLineEdit>(IDC_PAUSE)->setText("99");
        dlg.GetDlgItem(IDC_MODEM_INIT)->setFocus();
        QTest::keyClick(&dlg, Qt::Key_Return); // the default button OK
        EXPECT_EQ(dlg.okCount, 1);
        EXPECT_TRUE(dlg.isVisible()) << "an invalid field keeps the dialog open";
        dlg.GetDlgItem<QLineEdit>(IDC_PAUSE)->setText("9");
        QTest::keyClick(dlg.GetDlgItem(IDC_MODEM_INIT), Qt::Key_Return);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(dlg.m_nPause, 9);
    }
    {
        // The focused push button takes Enter, not the default one.
        ExchangeDlg dlg;
        dlg.show();
        dlg.GetDlgItem(IDCANCEL)->setFocus();
        QTest::keyClick(dlg.GetDlgItem(IDCANCEL), Qt::Key_Return);
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        EXPECT_EQ(dlg.okCount, 0);
    }
    {
        ExchangeDlg dlg;
        dlg.show();
        QTest::keyClick(&dlg, Qt::Key_Escape);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    {
        ExchangeDlg dlg;
        dlg.show();
        dlg.close();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        EXPECT_EQ(dlg.okCount, 0);
    }
    {
        // Without a default button Enter is the OK command all the same.
        CDialog main(IDD_PULSEWICK_DIALOG);
        main.show();
        main.GetDlgItem(IDC_EXECUTE)->setFocus();
        QTest::keyClick(main.GetDlgItem(IDC_EXECUTE), Qt::Key_Return);
        EXPECT_FALSE(main.isVisible());
        EXPECT_EQ(main.result(), QDialog::Accepted);
    }
}
