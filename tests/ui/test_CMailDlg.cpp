#include "CItemList.h"
#include "CMailAccount.h"
#include "CMailDlg.h"
#include "FakeUserPrompts.h"
#include "ResourceIds.h"
#include "ScriptedServer.h"
#include "SmtpAlert.h"
#include "TempDir.h"
#include "UserSettings.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class MailDlgTest : public ::testing::Test {
protected:
    void Open() {
        dlg = std::make_unique<CMailDlg>(list, nullptr);
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }
    QLineEdit* From() { return dlg->GetDlgItem<QLineEdit>(res::IDC_MAIL_FROM); }
    QLineEdit* Server() { return dlg->GetDlgItem<QLineEdit>(res::IDC_MAIL_SERVER); }
    QLineEdit* To() { return dlg->GetDlgItem<QLineEdit>(res::IDC_MAIL_TO); }
    QLineEdit* Subject() { return dlg->GetDlgItem<QLineEdit>(res::IDC_MAIL_SUBJECT); }
    void Press(int id) { dlg->GetDlgItem<QPushButton>(id)->click(); }

    static auto Settings(const CItemList& l) {
        return std::tuple(l.m_strFrom, l.m_strServer, l.m_strTo, l.m_strSubject);
    }

    FakeUserPrompts prompts;
    CItemList list;
    std::unique_ptr<CMailDlg> dlg;
};

TEST_F(MailDlgTest, OpensWithTheValuesOfANewList) {
    Open();
    EXPECT_EQ(dlg->windowTitle(), "E-Mail Properties");
    EXPECT_EQ(From()->text(), "");
    EXPECT_EQ(Server()->text(), "127.0.0.1");
    EXPECT_EQ(To()->text(), "");
    EXPECT_EQ(Subject()->text(), "");
}

TEST_F(MailDlgTest, OpensWithTheListsValuesWithoutRunningTheFromRule) {
    list.m_strFrom = "ops@mail.invalid";
    list.m_strServer = "relay.invalid";
    list.m_strTo = "pager@elsewhere.invalid";
    list.m_strSubject = "Down";
    Open();
    EXPECT_EQ(From()->text(), "ops@mail.invalid");
    EXPECT_EQ(Server()->text(), "relay.invalid");
    EXPECT_EQ(To()->text(), "pager@elsewhere.invalid");
    EXPECT_EQ(Subject()->text(), "Down");

    // Text set by the program is not the user's edit either.
    From()->setText("other@host.invalid");
    EXPECT_EQ(To()->text(), "pager@elsewhere.invalid");
    EXPECT_EQ(Server()->text(), "relay.invalid");
}

// Typed one key at a time: To follows every key, the server only from the at sign on.
TEST_F(MailDlgTest, FromRuleFollowsEveryKeystroke) {
    Open();
    Subject()->setText("keep me");
    From()->setFocus();
    const QString typed = QStringLiteral("alice@mx.host.invalid");
    for (qsizetype i = 0; i < typed.size(); ++i) {
        QTest::keyClicks(From(), typed.mid(i, 1));
        const QString from = typed.left(i + 1);
        SCOPED_TRACE(from.toStdString());
        ASSERT_EQ(From()->text(), from);
        EXPECT_EQ(To()->text(), from);
        const qsizetype at = from.indexOf(u'@');
        EXPECT_EQ(Server()->text(), at < 0 ? QStringLiteral("127.0.0.1") : from.mid(at + 1));
        EXPECT_EQ(Subject()->text(), "keep me");
    }

    // Deleting is an edit too.
    QTest::keyClick(From(), Qt::Key_Backspace);
    EXPECT_EQ(To()->text(), "alice@mx.host.invali");
    EXPECT_EQ(Server()->text(), "mx.host.invali");

    // Only the first at sign counts.
    QTest::keyClicks(From(), "@x");
    EXPECT_EQ(Server()->text(), "mx.host.invali@x");

    // Removing the at sign leaves the server as it was last set.
    From()->selectAll();
    QTest::keyClicks(From(), "bob");
    EXPECT_EQ(To()->text(), "bob");
    EXPECT_EQ(Server()->text(), "mx.host.invali@x");
}

TEST_F(MailDlgTest, TypingInTheMiddleOfFromKeepsTheCursor) {
    Open();
    From()->setFocus();
    QTest::keyClicks(From(), "al@host");
    From()->setCursorPosition(2);
    QTest::keyClicks(From(), "ice");
    EXPECT_EQ(From()->text(), "alice@host");
    EXPECT_EQ(From()->cursorPosition(), 5);
    EXPECT_EQ(To()->text(), "alice@host");
}

TEST_F(MailDlgTest, FieldsEditedAfterFromAreKeptUntilFromChangesAgain) {
    Open();
    From()->setFocus();
    QTest::keyClicks(From(), "me@a.invalid");

    To()->setFocus();
    To()->selectAll();
    QTest::keyClicks(To(), "boss@b.invalid");
    Server()->setFocus();
    Server()->selectAll();
    QTest::keyClicks(Server(), "smtp.invalid");
    EXPECT_EQ(From()->text(), "me@a.invalid");
    EXPECT_EQ(To()->text(), "boss@b.invalid");
    EXPECT_EQ(Server()->text(), "smtp.invalid");

    Press(res::IDOK);
    EXPECT_EQ(Settings(list), std::tuple(std::string("me@a.invalid"), std::string("smtp.invalid"),
                                         std::string("boss@b.invalid"), std::string()));

    // A later change of From overwrites both again.
    Open();
    From()->setFocus();
    QTest::keyClick(From(), Qt::Key_End);
    QTest::keyClicks(From(), "x");
    EXPECT_EQ(To()->text(), "me@a.invalidx");
    EXPECT_EQ(Server()->text(), "a.invalidx");
}

TEST_F(MailDlgTest, CancelAfterTheRuleLeavesTheList) {
    list.m_strTo = "keep@to.invalid";
    Open();
    From()->setFocus();
    QTest::keyClicks(From(), "new@server.invalid");
    Subject()->setText("changed");
    ASSERT_EQ(To()->text(), "new@server.invalid");

    const auto before = Settings(list);
    Press(res::IDCANCEL);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(Settings(list), before);
}

TEST_F(MailDlgTest, OkCopiesAllFourFieldsIncludingEmptyOnes) {
    list.m_strFrom = "a@b.invalid";
    list.m_strSubject = "s";
    Open();
    From()->clear();
    Server()->clear();
    Subject()->setText("Pulsewick: hosts down");
    Press(res::IDOK);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(Settings(list),
              std::tuple(std::string(), std::string(), std::string(), std::string("Pulsewick: hosts down")));
}

} // namespace

template <typename T>
T* Child(CMailDlg& dlg, const char* name) {
    return dlg.findChild<T*>(QString::fromLatin1(name));
}

// The provider group keeps its settings in the user's settings file, never in the list, and the
// password never in the file; Cancel keeps nothing.
TEST(MailDlgProvider, KeepsTheProviderInTheUserSettingsOnly) {
    FakeUserPrompts prompts;
    testsupport::TempDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
    const std::filesystem::path ini = dir.path() / "pulsewick" / "pulsewick.ini";
    CItemList list;
    CMailAccount account;
    {
        CMailDlg dlg(list, &account, nullptr);
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        EXPECT_EQ(Child<QSpinBox>(dlg, CMailDlg::kPortName)->value(), 25);
        Child<QLineEdit>(dlg, CMailDlg::kUserName)->setText("alerts");
        dlg.GetDlgItem<QPushButton>(res::IDCANCEL)->click();
    }
    EXPECT_FALSE(std::filesystem::exists(ini));

    {
        CMailDlg dlg(list, &account, nullptr);
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        auto* security = Child<QComboBox>(dlg, CMailDlg::kSecurityName);
        security->setCurrentIndex(security->findText("TLS"));
        emit security->activated(security->currentIndex());
        EXPECT_EQ(Child<QSpinBox>(dlg, CMailDlg::kPortName)->value(), 465);
        Child<QLineEdit>(dlg, CMailDlg::kUserName)->setText("alerts");
        Child<QLineEdit>(dlg, CMailDlg::kPasswordName)->setText("hunter2");
        // Whether or not this machine has a secret store, the dialog says which.
        EXPECT_FALSE(Child<QLabel>(dlg, CMailDlg::kStoreNoteName)->text().isEmpty());
        dlg.GetDlgItem<QPushButton>(res::IDOK)->click();
    }
    const std::vector<unsigned char> bytes = testsupport::ReadFileBytes(ini);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text, "[mail]\nport=465\nsecurity=tls\nuser=alerts\n");
    EXPECT_EQ(account.Options().password, "hunter2");
    EXPECT_EQ(list.m_strServer, CItemList().m_strServer);

    // A new start reads the settings back.
    const SmtpOptions again = CMailAccount().Options();
    EXPECT_EQ(again.port, 465);
    EXPECT_EQ(again.security, SmtpSecurity::Tls);
    EXPECT_EQ(again.user, "alerts");
}

// A security named in any case is what it says, a login goes out in clear only after None, and
// a value that names no security sends nothing at all: the dialog shows why and wants a choice.
TEST(MailDlgProvider, TheSecuritySettingIsNeverReadAsLessThanItSays) {
    FakeUserPrompts prompts;
    testsupport::TempDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
    CItemList list;
    using testsupport::ScriptedServer;
    // Each setting, and what the server receives in clear: empty for nothing, not even a connection.
    const std::pair<const char*, std::string> cases[] = {{"none", "AUTH PLAIN"},
                                                         {"STARTTLS", "STARTTLS\r\n"},
                                                         {"TLS", "\x16\x03"}, // a handshake from the first byte
                                                         {"", ""},            // a login without the setting
                                                         {"startls", ""}};
    for (const auto& [security, inClear] : cases) {
        SCOPED_TRACE(security);
        ScriptedServer server({ScriptedServer::Say("220 sink\r\n"), ScriptedServer::ReadLine(),
                               ScriptedServer::Say("250-sink\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n"),
                               ScriptedServer::ReadLine(), ScriptedServer::Say("220 Go ahead\r\n"),
                               ScriptedServer::Close()});
        QSettings settings = ui::UserSettings();
        settings.remove(QStringLiteral("mail/security"));
        if (*security)
            settings.setValue(QStringLiteral("mail/security"), QString::fromLatin1(security));
        settings.setValue(QStringLiteral("mail/user"), QStringLiteral("alerts"));
        settings.setValue(QStringLiteral("mail/port"), server.Port());
        SmtpOptions options = CMailAccount().Options();
        options.password = "hunter2";
        (void)SendMailAlert(list, options);
        ASSERT_TRUE(inClear.empty() || server.WaitForEnd());
        EXPECT_NE(server.Received().find(inClear), std::string::npos) << server.Received();
        EXPECT_EQ(server.Received().find("AUTH") != std::string::npos, inClear == "AUTH PLAIN") << server.Received();
        EXPECT_EQ(server.Received().empty(), inClear.empty());
    }
    const char* const kProblem = "the mail setting security=startls is not none, starttls or tls: no e-mail is sent "
                                 "until one is chosen";
    CMailAccount account;
    EXPECT_EQ(SendMailAlert(list, account.Options()), kProblem);
    CMailDlg dlg(list, &account, nullptr);
    dlg.show();
    auto* security = Child<QComboBox>(dlg, CMailDlg::kSecurityName);
    EXPECT_EQ(security->currentIndex(), -1);
    EXPECT_EQ(Child<QLabel>(dlg, CMailDlg::kStoreNoteName)->text(), kProblem);
    dlg.GetDlgItem<QPushButton>(res::IDOK)->click();
    EXPECT_EQ(prompts.Texts(), QStringList{CMailDlg::kChooseSecurity});
    security->setCurrentIndex(security->findText("STARTTLS"));
    dlg.GetDlgItem<QPushButton>(res::IDOK)->click();
    EXPECT_EQ(ui::UserSettings().value(QStringLiteral("mail/security")).toString(), "starttls");

    // None chosen with a login is kept: a missing setting would be no choice.
    ui::UserSettings().clear();
    CMailAccount fresh;
    CMailDlg login(list, &fresh, nullptr);
    login.show();
    auto* choice = Child<QComboBox>(login, CMailDlg::kSecurityName);
    Child<QLineEdit>(login, CMailDlg::kUserName)->setText("alerts");
    emit choice->activated(choice->findText("None")); // the current one, chosen
    login.GetDlgItem<QPushButton>(res::IDOK)->click();
    EXPECT_EQ(ui::UserSettings().value(QStringLiteral("mail/security")).toString(), "none");
}
