#include "CItem.h"
#include "CItemDlg.h"
#include "CSpinButtonCtrl.h"
#include "FakeUserPrompts.h"
#include "ResourceIds.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace res;

namespace {

// One edit dialog on one entry, shown (not modal) so the test can act as the user.
class ItemDlgTest : public ::testing::Test {
protected:
    void Open() {
        m_dlg = std::make_unique<CItemDlg>(m_item);
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    }

    QLineEdit* Address() const { return m_dlg->GetDlgItem<QLineEdit>(IDC_ADDRESS); }
    QLineEdit* Port() const { return m_dlg->GetDlgItem<QLineEdit>(IDC_PORT); }
    QComboBox* Service() const { return m_dlg->GetDlgItem<QComboBox>(IDC_SERVICE); }
    QRadioButton* Icmp() const { return m_dlg->GetDlgItem<QRadioButton>(IDC_ICMP); }
    QRadioButton* Connect() const { return m_dlg->GetDlgItem<QRadioButton>(IDC_CONNECT); }
    CSpinButtonCtrl* Spin() const { return m_dlg->GetDlgItem<CSpinButtonCtrl>(IDC_PORT_SPIN); }
    bool PortControlsEnabled() const { return Port()->isEnabled() && Spin()->isEnabled() && Service()->isEnabled(); }
    bool PortControlsDisabled() const {
        return !Port()->isEnabled() && !Spin()->isEnabled() && !Service()->isEnabled();
    }

    // Chooses a service as the user does.
    void Choose(const char* service) {
        const int index = Service()->findText(QString::fromLatin1(service));
        ASSERT_GE(index, 0) << service;
        Service()->setCurrentIndex(index);
        emit Service()->activated(index);
    }
    void PressClose() { m_dlg->GetDlgItem<QPushButton>(IDOK)->click(); }

    FakeUserPrompts m_prompts;
    CItem m_item;
    std::unique_ptr<CItemDlg> m_dlg;
};

TEST_F(ItemDlgTest, OpensOnANewEntryWithConnectAndPort80) {
    Open();
    EXPECT_EQ(m_dlg->windowTitle(), "Protocol used");
    EXPECT_EQ(Address()->text(), "");
    EXPECT_TRUE(Connect()->isChecked());
    EXPECT_FALSE(Icmp()->isChecked());
    EXPECT_EQ(Port()->text(), "80");
    EXPECT_EQ(Service()->currentIndex(), -1) << "no service is derived from the port";
    EXPECT_TRUE(PortControlsEnabled());
    EXPECT_EQ(QApplication::focusWidget(), Address());
}

TEST_F(ItemDlgTest, OpensOnAnIcmpEntryWithItsStoredPortAndControlsStillEnabled) {
    m_item.m_bConnect = 0;
    m_item.m_nPort = 7;
    m_item.m_strAddress = "gateway.invalid";
    Open();
    EXPECT_TRUE(Icmp()->isChecked());
    EXPECT_FALSE(Connect()->isChecked());
    EXPECT_EQ(Port()->text(), "7");
    EXPECT_EQ(Address()->text(), "gateway.invalid");
    EXPECT_TRUE(PortControlsEnabled());
}

TEST_F(ItemDlgTest, AnyNonzeroProbeKindFromAListFileShowsConnect) {
    m_item.m_bConnect = 5;
    Open();
    EXPECT_TRUE(Connect()->isChecked());
    PressClose();
    EXPECT_EQ(m_item.m_bConnect, 1);
}

TEST_F(ItemDlgTest, CloseReadsThePortFieldByTheIntegerRules) {
    struct Case {
        const char* text;
        bool accepted;
        std::int32_t stored;
    };
    for (const Case& c : {Case{"  8080 ", true, 8080}, Case{"99999999999", true, 2147483647}, Case{"-5", true, -5},
                          Case{"0", true, 0}, Case{"70000", true, 70000}, Case{"80x", false, 0}, Case{"-0", false, 0},
                          Case{"", false, 0}, Case{"\t", false, 0}}) {
        SCOPED_TRACE(c.text);
        m_item = CItem();
        m_item.m_nPort = 1234;
        m_prompts.messages.clear();
        Open();
        Address()->setText("host.invalid");
        Port()->setText(QString::fromLatin1(c.text));
        PressClose();
        if (c.accepted) {
            EXPECT_TRUE(m_prompts.messages.empty());
            EXPECT_FALSE(m_dlg->isVisible());
            EXPECT_EQ(m_dlg->result(), QDialog::Accepted);
            EXPECT_EQ(m_item.m_nPort, c.stored);
            EXPECT_EQ(m_item.m_strAddress, "host.invalid");
        } else {
            ASSERT_EQ(m_prompts.Texts(), QStringList{"Please enter an integer."});
            EXPECT_TRUE(m_dlg->isVisible()) << "the dialog stays open";
            EXPECT_EQ(m_item.m_nPort, 1234);
            EXPECT_EQ(m_item.m_strAddress, "") << "nothing is copied into the entry";
            EXPECT_EQ(QApplication::focusWidget(), Port());
            EXPECT_EQ(Port()->selectedText(), Port()->text());
        }
        m_dlg.reset();
    }
}

TEST_F(ItemDlgTest, CloseWritesKindAddressAndPortAndKeepsTheResult) {
    m_item.m_bResult = 1;
    Open();
    Address()->setText("router.invalid");
    Icmp()->click();
    Port()->setText("25");
    PressClose();
    EXPECT_EQ(m_item.m_bConnect, 0);
    EXPECT_EQ(m_item.m_strAddress, "router.invalid");
    EXPECT_EQ(m_item.m_nPort, 25);
    EXPECT_EQ(m_item.m_bResult, 1);
}

TEST_F(ItemDlgTest, ServicesPutTheirPortsAndOtherLeavesTheField) {
    Open();
    for (const auto& [name, port] : {std::pair{"HTTP", "80"}, std::pair{"FTP", "21"}, std::pair{"SMTP", "25"},
                                     std::pair{"Telnet", "23"}, std::pair{"Finger", "79"}, std::pair{"Whois", "43"}}) {
        Port()->setText("1");
        Choose(name);
        EXPECT_EQ(Port()->text(), port) << name;
        EXPECT_EQ(Service()->currentText(), name) << "the choice stays shown";
    }
    Port()->setText("8080");
    Choose("Other");
    EXPECT_EQ(Port()->text(), "8080");
    EXPECT_TRUE(m_prompts.messages.empty());
}

TEST_F(ItemDlgTest, ServiceOverAFieldHoldingLettersComplainsThenPutsItsPort) {
    Open();
    Port()->setText("abc");
    Choose("Whois");
    EXPECT_EQ(m_prompts.Texts(), QStringList{"Please enter an integer."});
    EXPECT_EQ(Port()->text(), "43");
    PressClose();
    EXPECT_EQ(m_item.m_nPort, 43);
}

TEST_F(ItemDlgTest, ProbeKindEnablesAndDisablesThePortControls) {
    Open();
    Icmp()->click();
    EXPECT_TRUE(PortControlsDisabled());
    Connect()->click();
    EXPECT_TRUE(PortControlsEnabled());

    // With a port field that fails, the click complains and goes by the kind last read.
    Port()->setText("x");
    Icmp()->click();
    EXPECT_EQ(m_prompts.Texts(), QStringList{"Please enter an integer."});
    EXPECT_TRUE(PortControlsEnabled());
}

TEST_F(ItemDlgTest, EscapeAndTheCloseBoxLeaveTheEntryUntouched) {
    m_item.m_strAddress = "old.invalid";
    m_item.m_nPort = 22;
    for (const bool escape : {true, false}) {
        Open();
        Address()->setText("new.invalid");
        Port()->setText("99");
        Icmp()->click();
        if (escape)
            QTest::keyClick(Address(), Qt::Key_Escape);
        else
            m_dlg->close();
        EXPECT_FALSE(m_dlg->isVisible());
        EXPECT_EQ(m_dlg->result(), QDialog::Rejected);
        EXPECT_EQ(m_item.m_strAddress, "old.invalid");
        EXPECT_EQ(m_item.m_nPort, 22);
        EXPECT_EQ(m_item.m_bConnect, 1);
        m_dlg.reset();
    }
}

TEST_F(ItemDlgTest, ArrowsStepFromTheTypedPort) {
    Open();
    Port()->setText("8080");
    Spin()->Step(+1);
    EXPECT_EQ(Port()->text(), "8081");
    QTest::keyClick(Port(), Qt::Key_Down);
    QTest::keyClick(Port(), Qt::Key_Down);
    EXPECT_EQ(Port()->text(), "8079");
}

} // namespace
