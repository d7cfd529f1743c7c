#include "CAlertDispatch.h"
#include "CScheduler.h"
#include "CommError.h"
#include "CommandLauncher.h"
#include "FakePeriodTimer.h"
#include "ISoundPlayer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

class RecordingSoundPlayer final : public ISoundPlayer {
public:
    explicit RecordingSoundPlayer(Log& log) : m_log(log) {}
    void Play(const std::string& path) override {
        m_log.push_back("sound " + path);
        if (fail)
            fail();
    }
    std::function<void()> fail;

private:
    Log& m_log;
};

class RecordingLauncher final : public ICommandLauncher {
public:
    explicit RecordingLauncher(Log& log) : m_log(log) {}
    bool Launch(const std::string& commandLine, const CommandInput&) override {
        m_log.push_back("execute " + commandLine);
        if (fail)
            fail();
        return false; // a command that cannot start must not stop the dispatch
    }
    std::function<void()> fail;

private:
    Log& m_log;
};

class AlertDispatchTest : public ::testing::Test {
protected:
    AlertDispatchTest() : m_sound(m_log), m_launcher(m_log) {
        CAlertDispatch::Hooks hooks;
        hooks.settings = [this] { return m_settings; };
        hooks.showInformation = [this](const std::string& text) {
            m_log.push_back("popup " + text);
            if (m_whilePopupOpen)
                m_whilePopupOpen();
        };
        hooks.showStopError = [this](const std::string& text) { m_log.push_back("stop " + text); };
        hooks.sendPagerAlert = CAlertDispatch::AtOnce([this] {
            m_log.push_back("pager");
            if (!m_pagerError.empty())
                throw CCommError(m_pagerError);
        });
        hooks.sendMailAlert = [this](CAlertDispatch::StepEnded ended) {
            m_log.push_back("mail");
            if (m_mailLater) {
                m_mailEnded = std::move(ended); // ends when the test says
                return;
            }
            std::exception_ptr error;
            try {
                if (m_mailFailure)
                    m_mailFailure();
            } catch (...) {
                error = std::current_exception();
            }
            ended(error);
        };
        hooks.notifyRecovery = [this] { m_log.push_back("notify"); };
        hooks.sendRecoveryMail = CAlertDispatch::AtOnce([this] { m_log.push_back("recovery mail"); });
        hooks.executeInput = [this](const std::string&) {
            const bool recovered = m_dispatch->CurrentEvent() == CAlertDispatch::Event::recovered;
            m_events.push_back(recovered ? "recovered" : "failed");
            return CommandInput{};
        };
        m_dispatch = std::make_unique<CAlertDispatch>(std::move(hooks), m_sound, m_launcher);
    }

    void EnableAll() {
        m_settings.m_bPopup = 1;
        m_settings.m_strSoundFile = "/sounds/alarm.wav";
        m_settings.m_strExecute = "notify-send down";
        m_settings.m_bPager = 1;
        m_settings.m_bMail = 1;
    }

    Log m_log;
    RecordingSoundPlayer m_sound;
    RecordingLauncher m_launcher;
    CAlertDispatch::Settings m_settings;
    std::string m_pagerError;
    std::function<void()> m_whilePopupOpen;
    std::function<void()> m_mailFailure;
    bool m_mailLater = false;
    CAlertDispatch::StepEnded m_mailEnded;
    Log m_events; // the event the command's environment was built for, per command
    std::unique_ptr<CAlertDispatch> m_dispatch;
};

TEST_F(AlertDispatchTest, RaisesEnabledAlertsInTheFixedOrder) {
    EnableAll();
    m_dispatch->RaiseAlerts();
    EXPECT_EQ(m_log, (Log{"popup One or more connection failed!", "sound /sounds/alarm.wav", "execute notify-send down",
                          "pager", "mail"}));
}

// The end of an outage reaches the notification, the command and the e-mail; the pop-up, the
// sound and the pager are for failures only. The command can tell the two events apart.
TEST_F(AlertDispatchTest, RecoveryGoesToTheNotificationTheCommandAndTheMailOnly) {
    EnableAll();
    bool ended = false;
    m_dispatch->RaiseRecovery([&ended] { ended = true; });
    EXPECT_TRUE(ended);
    EXPECT_EQ(m_log, (Log{"notify", "execute notify-send down", "recovery mail"}));

    m_log.clear();
    m_settings.m_bMail = 0;
    m_dispatch->RaiseRecovery();
    m_dispatch->RaiseAlerts();
    EXPECT_EQ(m_log, (Log{"notify", "execute notify-send down", "popup One or more connection failed!",
                          "sound /sounds/alarm.wav", "execute notify-send down", "pager"}));
    EXPECT_EQ(m_events, (Log{"recovered", "recovered", "failed"}));
}

TEST_F(AlertDispatchTest, EachStepOnlyWhenItsSettingAsks) {
    m_dispatch->RaiseAlerts();
    EXPECT_TRUE(m_log.empty());

    m_settings.m_bPager = -1; // any nonzero flag is on
    m_settings.m_strExecute = "true";
    m_dispatch->RaiseAlerts();
    EXPECT_EQ(m_log, (Log{"execute true", "pager"}));

    m_log.clear();
    m_settings = {};
    m_settings.m_strSoundFile = "a.wav";
    m_settings.m_bMail = 1;
    m_dispatch->RaiseAlerts();
    EXPECT_EQ(m_log, (Log{"sound a.wav", "mail"}));
}

TEST_F(AlertDispatchTest, SettingsChangedWhileThePopupIsOpenAreHonoured) {
    m_settings.m_bPopup = 1;
    m_whilePopupOpen = [this] { m_settings.m_bMail = 1; };
    m_dispatch->RaiseAlerts();
    EXPECT_EQ(m_log, (Log{"popup One or more connection failed!", "mail"}));
}

TEST_F(AlertDispatchTest, PagerErrorIsShownAndTheMailStillGoesOut) {
    EnableAll();
    m_pagerError = "Port already open";
    m_dispatch->RaiseAlerts();
    EXPECT_EQ(m_log, (Log{"popup One or more connection failed!", "sound /sounds/alarm.wav", "execute notify-send down",
                          "pager", "stop Port already open", "mail"}));
}

TEST_F(AlertDispatchTest, AnyExceptionOfAStepIsReportedAndTheLaterStepsStillRun) {
    EnableAll();
    m_whilePopupOpen = [] { throw std::bad_alloc(); };
    m_sound.fail = [] { throw std::runtime_error("no audio\nat all"); };
    m_launcher.fail = [] { throw 42; };
    m_pagerError = "Port already open";
    m_mailFailure = [] { throw std::logic_error("mail broke"); };

    testing::internal::CaptureStderr();
    m_dispatch->RaiseAlerts();
    const std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_EQ(m_log, (Log{"popup One or more connection failed!", "sound /sounds/alarm.wav", "execute notify-send down",
                          "pager", "stop Port already open", "mail"}));
    // One plain line per failed step; the pager's own error went to its message box only.
    const std::string program = program_invocation_short_name;
    EXPECT_EQ(errors, program + ": pop-up alert ended with an error: std::bad_alloc\n" + program +
                          ": sound alert ended with an error: no audio at all\n" + program +
                          ": execute alert ended with an error: unknown exception\n" + program +
                          ": e-mail alert ended with an error: mail broke\n");
}

// The e-mail waits for its server off the event loop: the dispatch ends when the e-mail says so,
// once, and not at all when the dispatch has gone meanwhile.
TEST_F(AlertDispatchTest, ADispatchEndsWhenAnEMailThatEndsLaterHasEnded) {
    m_settings.m_bMail = 1;
    m_mailLater = true;
    int done = 0;
    m_dispatch->RaiseAlerts([&done] { ++done; });
    ASSERT_TRUE(m_mailEnded);
    EXPECT_EQ(done, 0);
    m_mailEnded(std::make_exception_ptr(std::runtime_error("mail broke")));
    EXPECT_EQ(done, 1);
    m_mailEnded(nullptr);
    EXPECT_EQ(done, 1);

    m_dispatch->RaiseAlerts([&done] { ++done; });
    auto ended = std::move(m_mailEnded);
    m_dispatch.reset();
    ended(nullptr);
    EXPECT_EQ(done, 1);
}

// The window wires the dispatch into the scheduler's alert hook; a pager failure must not stop
// monitoring.
TEST_F(AlertDispatchTest, PagerErrorDuringAScheduledRunStillReArmsTheTimer) {
    m_settings.m_bPager = 1;
    m_settings.m_bMail = 1;
    m_pagerError = "Invalid port number";

    auto timer = std::make_unique<FakePeriodTimer>();
    FakePeriodTimer& fake = *timer;
    CScheduler::Hooks hooks;
    hooks.checkConnections = [this] {
        m_log.push_back("check");
        return 0;
    };
    hooks.raiseAlerts = [this](std::function<void()> done) { m_dispatch->RaiseAlerts(std::move(done)); };
    hooks.period = [] { return 5; };
    CScheduler scheduler(std::move(hooks), std::move(timer));

    scheduler.StartMonitoring();
    fake.Fire();
    EXPECT_EQ(m_log, (Log{"check", "pager", "stop Invalid port number", "mail"}));
    EXPECT_TRUE(fake.IsArmed());
    EXPECT_EQ(fake.LastDelay(), 5 * 60000);
}

} // namespace
