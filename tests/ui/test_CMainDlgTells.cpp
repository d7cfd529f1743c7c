// What the main window tells the user: unsaved changes, the status line and title, the
// pop-up's detail, the keyboard, the e-mail alert beside the window, and the tray icon.
#include "MainDlgHarness.h"

#include "CAlertPolicyDlg.h"
#include "CItemList.h"
#include "CTrayIcon.h"
#include "ListFile.h"
#include "MuteFile.h"
#include "ResourceIds.h"
#include "TempDir.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace res;

namespace {

std::unique_ptr<CItem> Entry(const std::string& address, int connect, int port) {
    auto e = std::make_unique<CItem>();
    e->m_strAddress = address;
    e->m_bConnect = connect;
    e->m_nPort = port;
    return e;
}

class TellsTest : public ::testing::Test {
protected:
    MainDlgHarness h;
    testsupport::TempDir dir;

    // A window on a saved list of two entries, freshly loaded: nothing unsaved.
    std::string OpenSaved() {
        CItemList list;
        list.AddTail(Entry("alpha.invalid", 1, 80));
        list.AddTail(Entry("beta.invalid", 0, 80));
        const std::string path = dir.file("office.pwk").string();
        EXPECT_TRUE(SaveListFile(list, path).Succeeded());
        h.Open(path);
        return path;
    }
    QString Status() { return h.dlg().findChild<QLabel*>("statusLine")->text(); }
    void Escape() { QTest::keyClick(&h.dlg(), Qt::Key_Escape); }
};

} // namespace

TEST_F(TellsTest, UnsavedChangesAreAskedAboutAndNothingElseIs) {
    const std::string path = OpenSaved();
    EXPECT_EQ(h.dlg().windowTitle(), "office.pwk[*] - Pulsewick");
    EXPECT_FALSE(h.dlg().isWindowModified());

    // A check run changes results only: no question.
    h.runs.outcomes = {0, 1};
    h.Click(IDC_PING_NOW);
    EXPECT_FALSE(h.dlg().isWindowModified());

    h.Click(IDC_POPUP);
    EXPECT_TRUE(h.dlg().isWindowModified());
    for (auto close : std::vector<std::function<void()>>{[&] { Escape(); }, [&] { h.dlg().close(); },
                                                         [&] { QTest::keyClick(&h.dlg(), Qt::Key_Return); },
                                                         [&] { h.Click(IDCANCEL); }}) {
        close(); // Cancel: the window and the list stay
        EXPECT_TRUE(h.dlg().isVisible());
    }
    EXPECT_EQ(h.prompts.saveQuestions, std::vector<QString>(4, "Save changes to office.pwk?"));

    // Load List asks first; Cancel keeps the list and asks for no file.
    h.Click(IDC_LOAD_LIST);
    EXPECT_TRUE(h.prompts.fileRequests.empty());

    // A period typed and not yet left counts, and Save writes it to the list's own file.
    h.Click(IDC_POPUP);
    EXPECT_FALSE(h.dlg().isWindowModified());
    QTest::keyClicks(h.Edit(IDC_PERIOD), "2");
    EXPECT_TRUE(h.dlg().isWindowModified()) << "marked while typing";
    h.Click(IDC_POPUP);
    h.Edit(IDC_PERIOD)->setText("42");
    h.prompts.saveAnswers = {ui::SaveAnswer::save};
    Escape();
    EXPECT_FALSE(h.dlg().isVisible());
    EXPECT_TRUE(h.prompts.fileRequests.empty()) << "a list with a file is saved to it";
    const ListFileLoadResult saved = LoadListFile(path);
    ASSERT_TRUE(saved.HasList());
    EXPECT_EQ(saved.list->m_nPeriod, 42);
    EXPECT_EQ(saved.list->m_bPopup, 1);
}

TEST_F(TellsTest, ANewListAsksForANameAndASessionEndNeverAsks) {
    h.Open();
    EXPECT_EQ(h.dlg().windowTitle(), "Untitled[*] - Pulsewick");
    Escape();
    EXPECT_FALSE(h.dlg().isVisible()) << "nothing changed: no question";
    EXPECT_TRUE(h.prompts.saveQuestions.empty());

    h.dlg().show();
    h.Click(IDC_ADD);
    h.prompts.saveAnswers = {ui::SaveAnswer::save}; // and then the file dialog is cancelled
    Escape();
    EXPECT_EQ(h.prompts.saveQuestions.back(), "Save changes to Untitled?");
    EXPECT_EQ(h.prompts.fileRequests.size(), 1u);
    EXPECT_TRUE(h.dlg().isVisible()) << "a save that did not happen keeps the window";

    const QString path = QString::fromStdString(dir.file("new.pwk").string());
    h.prompts.fileAnswers = {path};
    h.Click(IDC_SAVE_LIST);
    EXPECT_EQ(h.dlg().windowTitle(), "new.pwk[*] - Pulsewick");
    EXPECT_FALSE(h.dlg().isWindowModified());

    h.Click(IDC_ADD);
    h.dlg().OnSessionEnding();
    h.dlg().close();
    EXPECT_FALSE(h.dlg().isVisible());
    EXPECT_EQ(h.prompts.saveQuestions.size(), 1u);
}

TEST_F(TellsTest, TheStatusLineFollowsMonitoringAndThePopUpNamesWhatFailed) {
    OpenSaved();
    h.Click(IDC_POPUP);
    EXPECT_EQ(Status(), "Not monitoring.");

    QString duringRun;
    QObject::connect(&h.dlg(), &CMainDlg::checkRunStarted, &h.dlg(), [&] { duringRun = Status(); });
    h.runs.outcomes = {0, 0};
    h.runs.failures = {ProbeFailure::blocked, ProbeFailure::noPermission};
    h.Click(IDC_START);
    ASSERT_TRUE(h.timer->Fire());
    EXPECT_EQ(duringRun, "Pass in progress.");
    const QString now = QDateTime::currentDateTime().toString("HH:mm");
    const QString next = QDateTime::currentDateTime().addSecs(15 * 60).toString("HH:mm");
    EXPECT_EQ(Status(), "Monitoring, next pass at " + next + ".  Last pass at " + now + ": 2 of 2 failed.");

    // Each row tells when it was checked and why it failed; only the ICMP row how to grant ICMP.
    QTreeWidgetItem* row = h.dlg().ListView()->topLevelItem(0);
    EXPECT_EQ(row->text(3), "");
    EXPECT_TRUE(row->text(5).startsWith(now + ":")) << row->text(5).toStdString();
    EXPECT_EQ(row->text(6), "blocked by a firewall or security policy");
    EXPECT_EQ(row->toolTip(6), row->text(6));
    EXPECT_TRUE(h.dlg().ListView()->topLevelItem(1)->toolTip(5).contains("cap_net_raw"));

    ASSERT_EQ(h.prompts.messages.size(), 1u);
    EXPECT_EQ(h.prompts.messages[0].text, "One or more connection failed!");
    EXPECT_EQ(
        h.prompts.messages[0].detailText,
        "alpha.invalid:80: blocked by a firewall or security policy\nbeta.invalid (ICMP): no permission for ICMP");
    ASSERT_EQ(h.prompts.notifications.size(), 1u) << "a failed pass also tells the desktop";
    EXPECT_EQ(h.prompts.notifications[0][0], "One or more connection failed!");

    h.runs.outcomes = {1, 1};
    h.Click(IDC_STOP);
    h.Click(IDC_PING_NOW);
    EXPECT_EQ(Status(), "Not monitoring.  Last pass at " + now + ": all 2 answered.");
    EXPECT_EQ(row->text(3), "1.5 ms");
    EXPECT_EQ(row->text(6), "");
    EXPECT_EQ(h.prompts.notifications.size(), 1u) << "Ping Now raises no alert";
}

TEST_F(TellsTest, TabFollowsTheWindowAndEachMnemonicPressesItsOwnButton) {
    h.Open();
    QApplication::setActiveWindow(&h.dlg());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&h.dlg()));
    h.calls.clear();
    const std::pair<int, int> steps[] = {{IDC_EXECUTE, IDC_PAGER}, {IDC_LOG_NEVER, IDC_EDIT}};
    for (const auto& [from, to] : steps) {
        h.Item(from)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), h.Item(to)) << "Tab from " << from;
    }
    // The period's row ends with the probe settings.
    h.Item(IDC_START_AUTO)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "probeSettings");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), h.Item(IDC_LOG_NEVER));
    // The e-mail row (its "..." greyed while the alert is off), then the alert policy beside it.
    h.Item(IDC_MAIL)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "alertPolicy");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), h.Item(IDC_PERIOD));
    h.Item(IDCANCEL)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), h.Item(IDC_LIST)) << "after Close comes the list, not the pager row";

    // Each key with Alt is one button's own, so it presses that button.
    QStringList keys;
    for (const QAbstractButton* button : h.dlg().findChildren<QAbstractButton*>())
        keys << button->text().section('&', 1).left(1).toLower();
    keys.removeAll(QString());
    EXPECT_EQ(keys.removeDuplicates(), 0) << "a key taken twice, among: " << keys.join(" ").toStdString();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_L, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h.prompts.fileRequests.empty(); }, 5000)) << "Alt+L loads a list";
}

// The status line tells the pass being alerted about while the pop-up waits, and an e-mail alert
// that failed, with why, until the next pass (the tray's tooltip shows the status line).
TEST_F(TellsTest, TheAlertedPassAndAFailedMailAreToldAtOnce) {
    h.sendMail = [](const CItemList&) { return std::string("Failed to connect to SMTP server"); };
    OpenSaved();
    h.Click(IDC_POPUP);
    h.Click(IDC_MAIL);
    QString duringPopUp;
    h.prompts.onMessage = [&](const FakeUserPrompts::Message&) { duringPopUp = Status(); };
    h.Click(IDC_START);
    for (int pass = 0; pass < 2; ++pass) {
        h.runs.outcomes = {0, 1};
        ASSERT_TRUE(h.timer->Fire());
        ASSERT_TRUE(QTest::qWaitFor([&] { return Status().endsWith("failed: Failed to connect to SMTP server."); }));
    }
    EXPECT_TRUE(duringPopUp.contains("Failing for 2 passes in a row.")) << duringPopUp.toStdString();
    h.runs.outcomes = {1, 1};
    h.Click(IDC_PING_NOW);
    EXPECT_FALSE(Status().contains("E-mail")) << Status().toStdString();
}

// The e-mail dialogue runs beside the window: clicks are answered at once, the timer waits for
// the dialogue, a dialog the user opened meanwhile does not hold up the rest of the dispatch, and
// a Stop given meanwhile wins.
TEST_F(TellsTest, TheWindowAnswersDuringTheMailAndAStopMeanwhileWins) {
    std::atomic<bool> release{false};
    std::function<void()> duringMail;
    h.sendMail = [&](const CItemList& copy) {
        EXPECT_EQ(copy.GetAt(0).m_strAddress, "alpha.invalid");
        QMetaObject::invokeMethod(&h.dlg(), duringMail, Qt::QueuedConnection);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!release && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return std::string("OK");
    };
    OpenSaved();
    h.Click(IDC_MAIL);
    h.runs.outcomes = {0};

    bool stopMeanwhile = false;
    bool dispatchEnded = false;
    // Runs on the window's thread while the dialogue is still going on.
    duringMail = [&] {
        EXPECT_TRUE(h.dlg().isEnabled());
        h.Click(IDC_ABOUT);
        EXPECT_EQ(h.calls, std::vector<std::string>{"about"}) << "answered during the dialogue";
        EXPECT_FALSE(h.timer->IsArmed()) << "armed again only after the e-mail alert";
        if (stopMeanwhile)
            h.Click(IDC_STOP);
        release = true;
        if (!stopMeanwhile) {
            // A dialog the user opened during the e-mail (a nested event loop) is still open
            // when the e-mail ends: the dispatch goes on and the timer is armed all the same.
            EXPECT_TRUE(QTest::qWaitFor([&] { return h.timer->IsArmed(); }, 10000));
        }
        dispatchEnded = true;
    };
    for (bool stop : {false, true}) {
        stopMeanwhile = stop;
        release = false;
        dispatchEnded = false;
        h.calls.clear();
        h.Click(IDC_START);
        ASSERT_TRUE(h.timer->Fire());
        ASSERT_TRUE(QTest::qWaitFor([&] { return dispatchEnded; }, 20000));
        QTest::qWait(100); // the end of the e-mail, when a stop left nothing to arm
        EXPECT_EQ(h.timer->IsArmed(), !stop);
        EXPECT_EQ(h.dlg().IsRunning(), stop ? 0 : 1);
        h.Click(IDC_STOP);
    }
}

TEST_F(TellsTest, TheTrayShowsTheStateAndItsMenuWorksTheWindow) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
    h.trayAvailable = true;
    OpenSaved();
    CTrayIcon* tray = h.dlg().TrayIcon();
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->CurrentState(), CTrayIcon::State::idle);

    h.runs.outcomes = {1, 0};
    tray->StartStopAction()->trigger();
    EXPECT_EQ(tray->StartStopAction()->text(), "St&op");
    ASSERT_TRUE(h.timer->Fire());
    EXPECT_EQ(tray->CurrentState(), CTrayIcon::State::failed);
    EXPECT_TRUE(tray->ToolTip().contains("1 of 2 failed")) << tray->ToolTip().toStdString();
    h.runs.outcomes = {1, 1};
    tray->PingNowAction()->trigger();
    EXPECT_EQ(tray->CurrentState(), CTrayIcon::State::allAnswered);

    // The close box while monitoring: ends the program unless the user chose the tray.
    EXPECT_FALSE(CMainDlg::MinimiseToTray());
    tray->MinimiseAction()->trigger();
    EXPECT_TRUE(CMainDlg::MinimiseToTray());
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.file("pulsewick/pulsewick.ini").string())));
    h.dlg().close();
    EXPECT_FALSE(h.dlg().isVisible());
    EXPECT_EQ(h.dlg().IsRunning(), 1) << "monitoring goes on in the tray";
    tray->ShowAction()->trigger();
    EXPECT_TRUE(h.dlg().isVisible());

    // Quit goes through the question.
    h.Click(IDC_STOP);
    h.Click(IDC_POPUP);
    tray->QuitAction()->trigger();
    EXPECT_EQ(h.prompts.saveQuestions.size(), 1u);
    EXPECT_TRUE(h.dlg().isVisible());
    h.prompts.saveAnswers = {ui::SaveAnswer::discard};
    tray->QuitAction()->trigger();
    EXPECT_FALSE(h.dlg().isVisible());
    CMainDlg::SetMinimiseToTray(false);
}

// What holds the alerts, through the window: a silent uplink (one notification for the spell, no
// pop-up), a parent whose alert names the entry behind it, "Pause alerts" until resumed, and a
// mute that another program writes into the list's state, heeded at the next pass.
TEST_F(TellsTest, TheUplinkAParentAndAPauseHoldTheAlertsAndTheWindowSaysSo) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(dir.file("state").string()));
    CAlertPolicyDlg::SaveHolds({"gateway.invalid", {"alpha.invalid:80=beta.invalid"}});
    CItemList list;
    list.AddTail(Entry("alpha.invalid", 1, 80));
    list.AddTail(Entry("beta.invalid", 0, 80));
    list.m_bPopup = 1;
    list.m_strExecute = "report";
    const std::string path = dir.file("office.pwk").string();
    ASSERT_TRUE(SaveListFile(list, path).Succeeded());
    h.Open(path);
    h.Click(IDC_START);
    const auto pass = [&](std::optional<bool> uplink) {
        h.runs.uplinkAnswers = uplink;
        h.runs.outcomes = {0, 0};
        ASSERT_TRUE(h.timer->Fire());
    };

    pass(false);
    pass(false);
    EXPECT_TRUE(h.prompts.messages.empty());
    ASSERT_EQ(h.prompts.notifications.size(), 1u);
    EXPECT_EQ(h.prompts.notifications[0][0], "Cut off");
    EXPECT_EQ(h.prompts.notifications[0][1],
              "uplink gateway.invalid does not answer: this monitor is cut off; alerts held");
    EXPECT_TRUE(Status().contains("Uplink gateway.invalid does not answer: this monitor is cut off; alerts held."));

    pass(true);
    ASSERT_EQ(h.prompts.messages.size(), 1u);
    EXPECT_TRUE(h.prompts.messages[0].detailText.startsWith("alpha.invalid:80: ")) << h.prompts.messages[0].detailText.toStdString();
    EXPECT_TRUE(h.prompts.messages[0].detailText.endsWith(", and 1 entry behind it"));
    EXPECT_EQ(h.dlg().ListView()->topLevelItem(1)->text(6), "unreachable: alpha.invalid:80 is down");
    const std::vector<std::string>& environment = h.ExecuteEnvironment();
    EXPECT_NE(std::find(environment.begin(), environment.end(), "PULSEWICK_FAILED_COUNT=1"), environment.end());
    EXPECT_NE(std::find(environment.begin(), environment.end(), "PULSEWICK_BEHIND=alpha.invalid\t80\t1\n"),
              environment.end());
    EXPECT_FALSE(Status().contains("Uplink"));

    QMenu* pauses = h.dlg().findChild<QPushButton*>("pauseAlerts")->menu();
    const auto choose = [&](const QString& text) {
        emit pauses->aboutToShow();
        for (QAction* action : pauses->actions())
            if (action->text() == text)
                action->trigger();
    };
    choose("Until resumed");
    EXPECT_TRUE(Status().contains("Alerts paused until resumed.")) << Status().toStdString();
    pass(true);
    EXPECT_EQ(h.prompts.messages.size(), 1u);
    std::string problem;
    EXPECT_EQ(MuteFile({}, path).Read(problem).listUntil, MuteState::kUntilResumed) << "kept for the monitor too";
    choose("Resume alerts");
    pass(true);
    EXPECT_EQ(h.prompts.messages.size(), 2u);

    ASSERT_EQ(MuteFile({}, path).Change([](MuteState& state) { state.entries["alpha.invalid:80"] = 4102444800; }, problem),
              "");
    pass(true);
    EXPECT_EQ(h.prompts.messages.size(), 2u) << "the muted parent, and the entry behind it, alert nothing";
    EXPECT_TRUE(Status().contains("Alerts of 1 entry paused.")) << Status().toStdString();
    h.Click(IDC_STOP);
    qunsetenv("XDG_STATE_HOME");
}
