#include "MainDlgHarness.h"

#include "AlertEnvironment.h"
#include "CAlertPolicyDlg.h"
#include "CCheckRunner.h"
#include "CItemList.h"
#include "CProgressDlg.h"
#include "LoopbackPorts.h"
#include "PrivateNetwork.h"
#include "ResourceIds.h"
#include "ScriptedServer.h"
#include "SmtpAlert.h"
#include "TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <gtest/gtest.h>
#include <new>
#include <utility>

using namespace res;

namespace {

class CheckRunTest : public ::testing::Test {
protected:
    MainDlgHarness h;

    void OpenWith(int entries, int initialResult) {
        h.Open();
        for (int i = 0; i < entries; ++i) {
            auto e = std::make_unique<CItem>();
            e->m_strAddress = "host" + std::to_string(i) + ".invalid";
            e->m_bResult = initialResult;
            h.dlg().List().AddTail(std::move(e));
        }
        h.dlg().RefreshList();
    }

    // Watches the window while a run is in progress.
    struct Observation {
        bool disabledAtStart = false;
        bool progressShown = false;
    };
    void Watch(Observation& o) {
        QObject::connect(&h.dlg(), &CMainDlg::checkRunStarted, &h.dlg(), [this, &o] {
            o.disabledAtStart = !h.dlg().isEnabled();
            auto* progress = h.dlg().findChild<CProgressDlg*>();
            o.progressShown = progress && progress->isVisible() && progress->isEnabled();
        });
    }

    // Presses Cancel on the progress window as soon as ready() holds.
    void CancelWhen(std::function<bool()> ready) {
        auto* poll = new QTimer(&h.dlg());
        QObject::connect(poll, &QTimer::timeout, poll, [this, ready, poll] {
            auto* progress = h.dlg().findChild<CProgressDlg*>();
            if (progress && progress->isVisible() && ready()) {
                QTest::mouseClick(progress->GetDlgItem<QPushButton>(IDCANCEL), Qt::LeftButton);
                poll->deleteLater();
            }
        });
        poll->start(5);
    }

    void CancelAfterRows(int rows) {
        h.runs.onStarted = [this, rows] {
            CancelWhen([this, rows] {
                int done = 0;
                for (int i = 0; i < h.RowCount(); ++i)
                    done += h.dlg().List().GetAt(i).m_bResult != 7 ? 1 : 0;
                return done >= rows;
            });
        };
    }
};

} // namespace

TEST_F(CheckRunTest, TheWindowIsDisabledExactlyForTheRunAndEachRowShowsItsResult) {
    OpenWith(3, 0);
    h.runs.outcomes = {1, 0, 1};
    Observation o;
    Watch(o);
    bool disabledWhileRowsCame = true;
    QObject::connect(h.dlg().ListView()->model(), &QAbstractItemModel::dataChanged, &h.dlg(),
                     [&] { disabledWhileRowsCame = disabledWhileRowsCame && !h.dlg().isEnabled(); });
    EXPECT_EQ(h.dlg().CheckConnections(), 0);
    EXPECT_TRUE(o.disabledAtStart);
    EXPECT_TRUE(o.progressShown);
    EXPECT_TRUE(disabledWhileRowsCame);
    EXPECT_TRUE(h.dlg().isEnabled());
    EXPECT_EQ(h.Row(0)[2], "Yes");
    EXPECT_EQ(h.Row(1)[2], "No");
    EXPECT_EQ(h.Row(2)[2], "Yes");
    auto* progress = h.dlg().findChild<CProgressDlg*>();
    EXPECT_TRUE(!progress || !progress->isVisible());

    h.runs.outcomes = {};
    EXPECT_EQ(h.dlg().CheckConnections(), 1);
    EXPECT_EQ(h.Row(1)[2], "Yes");
}

TEST_F(CheckRunTest, TheProgressBarRunsFromZeroToTheNumberOfEntriesAsTheyFinish) {
    OpenWith(4, 0);
    h.runs.stepMs = 20;
    int maximum = -1;
    std::vector<int> values;
    QObject::connect(&h.dlg(), &CMainDlg::checkRunStarted, &h.dlg(), [&] {
        auto* bar = h.dlg().findChild<CProgressDlg*>()->m_progress;
        maximum = bar->maximum();
        values.push_back(bar->value());
        QObject::connect(bar, &QProgressBar::valueChanged, bar, [&](int value) { values.push_back(value); });
    });
    h.dlg().CheckConnections();
    EXPECT_EQ(maximum, 4);
    EXPECT_EQ(values, (std::vector<int>{0, 1, 2, 3, 4})) << "one step per finished entry, nothing cycling";
}

TEST_F(CheckRunTest, RowsThatEndBeforeTheWindowFirstLooksMoveTheBar) {
    OpenWith(4, 0);
    h.runs.finishedAtStart = 3;
    h.runs.outcomes = {1, 1, 1, ScriptedRuns::kHang};
    int shown = -1;
    QElapsedTimer clock;
    clock.start();
    h.runs.onStarted = [&] {
        CancelWhen([&] {
            shown = h.dlg().findChild<CProgressDlg*>()->m_progress->value();
            return shown == 3 || clock.elapsed() > 5000;
        });
    };
    h.dlg().CheckConnections();
    EXPECT_EQ(shown, 3) << "the rows that ended before the window first looked never moved the bar";
}

TEST_F(CheckRunTest, CancelBeforeAFailureReportsSuccessAndKeepsTheRowsNotReached) {
    OpenWith(3, 7); // 7 marks "not probed in this run"; the rows show "Yes" for it
    h.runs.outcomes = {1, ScriptedRuns::kHang, 0};
    CancelAfterRows(1);
    EXPECT_EQ(h.dlg().CheckConnections(), 1);
    EXPECT_EQ(h.runs.cancelled, 1);
    EXPECT_TRUE(h.dlg().isEnabled());
    EXPECT_EQ(h.dlg().List().GetAt(2).m_bResult, 7);
    EXPECT_EQ(h.Row(0)[2], "Yes");
    EXPECT_EQ(h.Row(2)[2], "Yes");
}

TEST_F(CheckRunTest, CancelAfterAFailureReportsTheFailure) {
    OpenWith(2, 7);
    h.runs.outcomes = {0, ScriptedRuns::kHang};
    CancelAfterRows(1);
    EXPECT_EQ(h.dlg().CheckConnections(), 0);
    EXPECT_EQ(h.runs.cancelled, 1);
    EXPECT_TRUE(h.dlg().isEnabled());
    EXPECT_EQ(h.Row(0)[2], "No");
}

TEST_F(CheckRunTest, EscapeAndEnterDoNotEndTheProgressWindow) {
    OpenWith(1, 0);
    h.runs.outcomes = {ScriptedRuns::kHang};
    int keysTried = 0;
    h.runs.onStarted = [&] {
        QTimer::singleShot(20, &h.dlg(), [&] {
            auto* progress = h.dlg().findChild<CProgressDlg*>();
            QTest::keyClick(progress, Qt::Key_Escape);
            QTest::keyClick(progress, Qt::Key_Return);
            progress->close();
            keysTried = progress->isVisible() ? 1 : -1;
            QTest::mouseClick(progress->GetDlgItem<QPushButton>(IDCANCEL), Qt::LeftButton);
        });
    };
    EXPECT_EQ(h.dlg().CheckConnections(), 1);
    EXPECT_EQ(keysTried, 1);
}

TEST_F(CheckRunTest, AFailedScheduledRunRaisesTheAlertsInOrderAfterThePopUp) {
    OpenWith(1, 0);
    h.runs.outcomes = {0};
    CItemList& list = h.dlg().List();
    list.m_bPopup = 1;
    list.m_strSoundFile = "/srv/alarm.wav";
    list.m_strExecute = "logger down";
    list.m_nPeriod = 100000;
    h.dlg().LoadListFile("/nonexistent.invalid/x.pwk"); // only to refresh the window from the list
    h.prompts.messages.clear();
    std::size_t callsWhenPopupShown = 99;
    h.prompts.onMessage = [&](const FakeUserPrompts::Message&) {
        callsWhenPopupShown = h.calls.size();
        QTest::qWait(1100); // the user reads it for a while: the command still learns when the pass ended
    };
    const std::size_t callsBefore = h.calls.size();

    h.Click(IDC_START);
    EXPECT_EQ(h.timer->LastDelay(), 1);
    ASSERT_TRUE(h.timer->Fire());
    EXPECT_EQ(h.prompts.Texts(), QStringList{"One or more connection failed!"});
    EXPECT_EQ(h.prompts.messages[0].icon, ui::MessageIcon::information);
    EXPECT_EQ(callsWhenPopupShown, callsBefore) << "the other alerts wait for the pop-up";
    EXPECT_EQ(std::vector<std::string>(h.calls.begin() + static_cast<long>(callsBefore), h.calls.end()),
              (std::vector<std::string>{"sound /srv/alarm.wav", "execute logger down"}));
    // The command is told what failed; the list has no file.
    const std::vector<std::string>& env = h.ExecuteEnvironment();
    ASSERT_EQ(env.size(), 6u);
    EXPECT_EQ(env[0], "PULSEWICK_EVENT=failed");
    EXPECT_EQ(env[1], "PULSEWICK_LIST=");
    EXPECT_EQ(env[2], "PULSEWICK_FAILED_COUNT=1");
    EXPECT_EQ(env[3].rfind("PULSEWICK_FAILED=", 0), 0u);
    const auto passEnded =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(h.dlg().LastPass().when.toMSecsSinceEpoch()));
    EXPECT_EQ(env[4], "PULSEWICK_FAILED_LEFT_OUT=0");
    EXPECT_EQ(env[5], "PULSEWICK_PASS_TIME=" + alertenv::Iso8601(passEnded));
    EXPECT_TRUE(h.timer->IsArmed());
    EXPECT_EQ(h.timer->LastDelay(), 6000000000LL);
}

// The alert policy from the user's settings file: the first failed pass is held back (the status
// line counts it), the second alerts, and a pass that answers tells the desktop and the command
// that the outage is over; the pop-up and the sound are not raised for it.
TEST_F(CheckRunTest, TheAlertPolicyHoldsTheFirstFailureBackAndTellsWhenTheOutageIsOver) {
    testsupport::TempDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
    CAlertPolicyDlg::Save({2, 1, true});
    OpenWith(1, 0);
    h.runs.outcomes = {0};
    CItemList& list = h.dlg().List();
    list.m_bPopup = 1;
    list.m_strSoundFile = "/srv/alarm.wav";
    list.m_strExecute = "logger pulsewick";
    h.dlg().LoadListFile("/nonexistent.invalid/x.pwk"); // only to refresh the window from the list
    h.prompts.messages.clear();
    const std::size_t callsBefore = h.calls.size();
    const auto callsSince = [&] {
        return std::vector<std::string>(h.calls.begin() + static_cast<long>(callsBefore), h.calls.end());
    };

    h.Click(IDC_START);
    ASSERT_TRUE(h.timer->Fire());
    EXPECT_TRUE(h.prompts.messages.empty());
    EXPECT_TRUE(callsSince().empty());

    ASSERT_TRUE(h.timer->Fire());
    EXPECT_EQ(h.prompts.Texts(), QStringList{"One or more connection failed!"});
    EXPECT_EQ(callsSince(), (std::vector<std::string>{"sound /srv/alarm.wav", "execute logger pulsewick"}));
    EXPECT_EQ(h.ExecuteEnvironment().at(0), "PULSEWICK_EVENT=failed");
    EXPECT_TRUE(h.dlg().StatusLineText().contains("Failing for 2 passes in a row."))
        << h.dlg().StatusLineText().toStdString();

    h.runs.outcomes = {1};
    const std::size_t notificationsBefore = h.prompts.notifications.size();
    ASSERT_TRUE(h.timer->Fire());
    EXPECT_EQ(h.prompts.Texts(), QStringList{"One or more connection failed!"}); // no second pop-up
    EXPECT_EQ(callsSince(), (std::vector<std::string>{"sound /srv/alarm.wav", "execute logger pulsewick",
                                                      "execute logger pulsewick"}));
    EXPECT_EQ(h.ExecuteEnvironment().at(0), "PULSEWICK_EVENT=recovered");
    ASSERT_EQ(h.prompts.notifications.size(), notificationsBefore + 1);
    EXPECT_EQ(h.prompts.notifications.back(), (QStringList{"Connections answer again", "host0.invalid:80"}));
    EXPECT_FALSE(h.dlg().StatusLineText().contains("Failing"));
    h.Click(IDC_STOP);
}

// Only an answer ends an outage: a scheduled pass that probed nothing (cancelled, or a run that
// could not start) says "recovered" neither on the desktop, nor to the command, nor by e-mail.
TEST_F(CheckRunTest, APassThatProbedNothingEndsNoOutage) {
    testsupport::TempDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
    CAlertPolicyDlg::Save({1, CAlertPolicy::kNever, true});
    std::atomic<int> recoveryMails{0};
    h.sendMail = [](const CItemList&) { return std::string(smtp::kOk); };
    h.sendRecoveryMail = [&](const std::vector<std::string>&) { ++recoveryMails; };
    OpenWith(1, 0);
    h.dlg().List().m_strExecute = "notify";
    h.dlg().List().m_bMail = 1;
    h.dlg().LoadListFile("/nonexistent.invalid/x.pwk"); // only to refresh the window from the list
    h.Click(IDC_START);
    constexpr int kNotStarted = -2;
    std::size_t notifications = 0;
    for (const int outcome : {0, ScriptedRuns::kHang, kNotStarted, 1}) {
        SCOPED_TRACE(outcome);
        h.runs.outcomes = {outcome};
        h.runs.failToStart = outcome == kNotStarted;
        h.runs.onStarted = [this, outcome] {
            if (outcome == ScriptedRuns::kHang)
                CancelWhen([] { return true; });
        };
        ASSERT_TRUE(h.timer->Fire());
        ASSERT_TRUE(QTest::qWaitFor([this] { return h.timer->IsArmed(); }, 10000)); // the e-mail has ended
        notifications = outcome == 0 ? h.prompts.notifications.size() : notifications;
        EXPECT_EQ(h.prompts.notifications.size(), notifications + (outcome == 1 ? 1 : 0));
        EXPECT_EQ(h.ExecuteEnvironment().at(0), outcome == 1 ? "PULSEWICK_EVENT=recovered" : "PULSEWICK_EVENT=failed");
        EXPECT_EQ(recoveryMails, outcome == 1 ? 1 : 0);
    }
}

// Disabling the window for the run takes the focus from the period field; that is no user
// leaving it, so nothing may be validated inside the run and nothing may wait for a message.
TEST_F(CheckRunTest, AnInvalidPeriodFieldNeverHoldsUpAScheduledRun) {
    OpenWith(2, 1);
    QApplication::setActiveWindow(&h.dlg());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&h.dlg()));
    h.runs.outcomes = {0};
    h.dlg().List().m_bPopup = 1;
    h.dlg().LoadListFile("/nonexistent.invalid/x.pwk"); // only to refresh the window from the list
    h.prompts.messages.clear();
    QLineEdit* period = h.Edit(IDC_PERIOD);
    period->setFocus();
    ASSERT_TRUE(period->hasFocus());
    period->setText("");

    h.dlg().StartMonitoring();
    ASSERT_TRUE(h.timer->Fire());
    QCoreApplication::processEvents();
    EXPECT_EQ(h.runs.finished, 1);
    EXPECT_EQ(h.prompts.Texts(), QStringList{"One or more connection failed!"});
    EXPECT_TRUE(h.timer->IsArmed());
}

// The e-mail alert goes to the list's server on the SMTP port, after the pop-up. A network
// namespace of the test's own lends it that port on its loopback.
TEST_F(CheckRunTest, AFailedScheduledRunMailsTheListsServerAfterThePopUp) {
    const testsupport::ScopedPrivateNetwork network;
    if (!network.IsActive())
        GTEST_SKIP() << "no network namespace of our own here";
    using testsupport::ScriptedServer;
    std::vector<ScriptedServer::Step> script{ScriptedServer::Say("220 sink.invalid\r\n")};
    for (const char* reply : {"250 sink.invalid\r\n", "250 Ok\r\n", "250 Ok\r\n", "354 Go on\r\n"}) {
        script.push_back(ScriptedServer::ReadLine());
        script.push_back(ScriptedServer::Say(reply));
    }
    script.push_back(ScriptedServer::ReadUntil("\r\n.\r\n"));
    script.push_back(ScriptedServer::Say("250 Ok: queued\r\n"));
    ScriptedServer server(std::move(script), 25);

    OpenWith(1, 1);
    h.runs.outcomes = {0};
    CItemList& list = h.dlg().List();
    list.m_bPopup = 1;
    list.m_bMail = 1;
    list.m_strServer = "127.0.0.1";
    list.m_strFrom = "monitor@pulsewick.invalid";
    list.m_strTo = "ops@pulsewick.invalid";
    h.dlg().LoadListFile("/nonexistent.invalid/x.pwk"); // only to refresh the window from the list
    h.prompts.messages.clear();
    std::string receivedAtPopup = "not shown";
    h.prompts.onMessage = [&](const FakeUserPrompts::Message&) { receivedAtPopup = server.Received(); };

    h.Click(IDC_START);
    ASSERT_TRUE(h.timer->Fire());
    EXPECT_EQ(receivedAtPopup, "") << "the mail waits for the pop-up";
    ASSERT_TRUE(server.WaitForEnd(std::chrono::seconds(5)));
    const std::string received = server.Received();
    EXPECT_NE(received.find("MAIL FROM:<monitor@pulsewick.invalid>\r\n"), std::string::npos) << received;
    EXPECT_NE(received.find("\r\nhost0.invalid:"), std::string::npos) << received;
    EXPECT_NE(received.find("QUIT\r\n"), std::string::npos) << received;
    EXPECT_EQ(h.prompts.Texts(), QStringList{"One or more connection failed!"}) << "the outcome is not shown";
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.timer->IsArmed(); }, 5000)) << "armed again once the e-mail has ended";
}

TEST_F(CheckRunTest, PingNowGreysTheEditingControlsForTheRunAndRaisesNoAlert) {
    OpenWith(1, 1);
    h.runs.outcomes = {0};
    h.dlg().List().m_bPopup = 1;
    bool addDisabledDuringRun = false;
    QObject::connect(&h.dlg(), &CMainDlg::checkRunStarted, &h.dlg(),
                     [&] { addDisabledDuringRun = !h.Item(IDC_ADD)->isEnabled() && h.dlg().IsRunning() == 1; });
    h.Click(IDC_PING_NOW);
    EXPECT_TRUE(addDisabledDuringRun);
    EXPECT_TRUE(h.Item(IDC_ADD)->isEnabled());
    EXPECT_EQ(h.dlg().IsRunning(), 0);
    EXPECT_EQ(h.Row(0)[2], "No");
    EXPECT_TRUE(h.prompts.messages.empty());
    EXPECT_FALSE(h.timer->IsArmed());
}

TEST_F(CheckRunTest, AScheduledRunWaitsForAnOpenEditDialog) {
    OpenWith(1, 0);
    h.Click(IDC_START);
    int runsWhileEditing = -1;
    h.onEditItem = [&](CItem& item) {
        ASSERT_TRUE(h.timer->Fire()); // the period falls due while the dialog is open
        runsWhileEditing = h.runs.started;
        item.m_strAddress = "edited.invalid";
    };
    // "&Edit" is greyed while monitoring; a double-click still edits.
    QTreeWidget* view = h.dlg().ListView();
    view->topLevelItem(0)->setSelected(true);
    emit view->itemDoubleClicked(view->topLevelItem(0), 0);
    EXPECT_EQ(runsWhileEditing, 0);
    EXPECT_EQ(h.runs.started, 1) << "the deferred run follows the dialog";
    EXPECT_EQ(h.Row(0)[0], "edited.invalid");
    EXPECT_TRUE(h.timer->IsArmed());
}

// No memory for the progress window, a failing worker start, an edit dialog that fails while a
// run falls due: whatever fails, the window is usable again, later periods still probe, and
// Close still ends the program.
TEST(CheckRunFailure, OneFailureNeverEndsMonitoring) {
    enum class Where { progressWindow, workerStart, editDialog };
    for (Where where : {Where::progressWindow, Where::workerStart, Where::editDialog}) {
        SCOPED_TRACE(static_cast<int>(where));
        MainDlgHarness h;
        h.Open();
        auto entry = std::make_unique<CItem>();
        entry->m_strAddress = "host.invalid";
        entry->m_bResult = 0;
        h.dlg().List().AddTail(std::move(entry));
        h.dlg().RefreshList();
        h.Click(IDC_START);

        bool failOnce = true;
        if (where == Where::progressWindow) {
            QObject::connect(&h.dlg(), &CMainDlg::checkRunStarted, &h.dlg(), [&] {
                if (std::exchange(failOnce, false))
                    throw std::bad_alloc();
            });
        } else if (where == Where::workerStart) {
            h.runs.onStarted = [&] {
                if (std::exchange(failOnce, false))
                    throw std::bad_alloc();
            };
        }
        if (where == Where::editDialog) {
            h.onEditItem = [&](CItem&) {
                ASSERT_TRUE(h.timer->Fire()); // the period falls due while the dialog is open
                throw std::bad_alloc();
            };
            EXPECT_THROW(h.dlg().AddEntry(), std::bad_alloc);
            QCoreApplication::processEvents();
            EXPECT_EQ(h.runs.started, 1) << "the run that fell due during the dialog follows it";
        } else {
            ASSERT_TRUE(h.timer->Fire());
            EXPECT_EQ(h.Row(0)[2], "No") << "the failed run showed nothing";
        }
        EXPECT_TRUE(h.dlg().isEnabled());

        const int runsBefore = h.runs.started;
        ASSERT_TRUE(h.timer->Fire()) << "the next period is armed";
        EXPECT_EQ(h.runs.started, runsBefore + 1) << "the next period probes";
        EXPECT_EQ(h.Row(0)[2], "Yes");
        EXPECT_TRUE(h.timer->IsArmed());

        h.prompts.saveAnswers = {ui::SaveAnswer::discard};
        QTest::keyClick(&h.dlg(), Qt::Key_Escape);
        EXPECT_FALSE(h.dlg().isVisible()) << "Close ends the program";
    }
}

TEST_F(CheckRunTest, AWorkerThatCannotStartProbesNothing) {
    OpenWith(1, 0);
    h.runs.failToStart = true;
    EXPECT_EQ(h.dlg().CheckConnections(), 1);
    EXPECT_TRUE(h.dlg().isEnabled());
    EXPECT_EQ(h.dlg().findChild<CProgressDlg*>(), nullptr);
}

// The real worker against loopback ports: a refused port fails at once, a listening one
// answers, and a port whose handshake is never answered holds the run until Cancel.
TEST(RealCheckRun, CancelDuringAProbeThatHangsKeepsWhatWasFound) {
    using testsupport::LoopbackPort;
    LoopbackPort listening(LoopbackPort::Kind::listening);
    LoopbackPort closed(LoopbackPort::Kind::closed);
    LoopbackPort stalled(LoopbackPort::Kind::stalled);
    for (bool failFirst : {false, true}) {
        MainDlgHarness h;
        h.makeCheckRunner = [] { return std::make_unique<CCheckRunner>(); };
        h.Open();
        auto add = [&](std::uint16_t port, int initial) {
            auto e = std::make_unique<CItem>();
            e->m_strAddress = "127.0.0.1";
            e->m_nPort = port;
            e->m_bResult = initial;
            h.dlg().List().AddTail(std::move(e));
        };
        add(listening.Port(), 0);
        if (failFirst)
            add(closed.Port(), 1);
        add(stalled.Port(), 1);
        h.dlg().RefreshList();
        const int probed = failFirst ? 2 : 1;

        auto* poll = new QTimer(&h.dlg());
        QObject::connect(poll, &QTimer::timeout, poll, [&h, poll, failFirst] {
            auto* progress = h.dlg().findChild<CProgressDlg*>();
            const bool rowsIn = h.Row(0)[2] == "Yes" && (!failFirst || h.Row(1)[2] == "No");
            if (progress && progress->isVisible() && rowsIn) {
                EXPECT_FALSE(h.dlg().isEnabled());
                QTest::mouseClick(progress->GetDlgItem<QPushButton>(IDCANCEL), Qt::LeftButton);
                poll->deleteLater();
            }
        });
        poll->start(5);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(h.dlg().CheckConnections(), failFirst ? 0 : 1);
        EXPECT_LT(clock.elapsed(), 8000) << "Cancel must not wait for the hanging probe";
        EXPECT_TRUE(h.dlg().isEnabled());
        EXPECT_EQ(h.Row(probed)[2], "Yes") << "the row the run did not finish keeps its status";
        EXPECT_EQ(h.dlg().List().GetAt(probed).m_bResult, 1);
    }
}
