#include "CPagerAlert.h"
#include "CCMSCommCtrl.h"
#include "CItemList.h"
#include "CommError.h"
#include "FakeModem.h"
#include "QtTestApp.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using testsupport::FakeModem;
using testsupport::ScopedPortOverride;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kInit = "AT Q0 E0 M0 V0\r";
const std::string kDial = "ATDT5551234,,,,,1\r\r";

class PagerAlertTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::QtTestApp(); }

    // Runs the whole alert with `list` and returns how long it took.
    Clock::duration Run(CCMSCommCtrl& control) {
        CPagerAlert alert(control, list);
        const auto start = Clock::now();
        alert.SendPagerAlert();
        return Clock::now() - start;
    }
    Clock::duration Run() { return Run(comm); }

    FakeModem modem;
    CItemList list; // defaults: COM2, the usual initialisation string, 5551234, five pauses, code 1
    ScopedPortOverride override{2, modem.SlavePath()};
    CCMSCommCtrl comm;
};

TEST_F(PagerAlertTest, AnsweringModemGetsInitThenDialAt1200Baud8N1) {
    modem.AnswerEveryCarriageReturn();
    const auto took = Run();

    EXPECT_EQ(modem.Received(), kInit + kDial);
    // Unanswered, the dial command alone would hold the alert for about 30 s.
    EXPECT_LT(took, 10s) << "each answer must end its wait at once";
    EXPECT_EQ(modem.ProgramDescriptorsOnLine(), 0) << "the port is closed";

    const auto settings = modem.SettingsAtFirstByte();
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(cfgetospeed(&*settings), B1200);
    EXPECT_EQ(settings->c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(settings->c_cflag & PARENB);
    EXPECT_FALSE(settings->c_cflag & CSTOPB);
}

TEST_F(PagerAlertTest, EmptyInitStringSendsOnlyTheDialCommandWithoutWaiting) {
    list.m_strModemInit.clear();
    list.m_nPause = 0;
    modem.AnswerEveryCarriageReturn();
    const auto start = Clock::now();
    Run();

    EXPECT_EQ(modem.Received(), "ATDT55512341\r\r");
    const auto crs = modem.CarriageReturnTimes();
    ASSERT_FALSE(crs.empty());
    EXPECT_LT(crs.front() - start, 2s) << "no wait may come before the dial command";
}

TEST_F(PagerAlertTest, LoadedPauseCountOutsideTheDialogRangeIsUsedClamped) {
    // Only the dialog checks the range; a list file can hold any count.
    list.m_nPause = 1000;
    modem.AnswerEveryCarriageReturn();
    Run();
    EXPECT_EQ(modem.Received(), kInit + "ATDT5551234" + std::string(50, ',') + "1\r\r");

    // Stops at the first wrong length: a count used unclamped would build a command of gigabytes.
    for (const auto& [loaded, commas] : std::vector<std::pair<std::int32_t, std::size_t>>{
             {51, 50}, {50, 50}, {-1, 0}, {INT32_MIN, 0}, {INT32_MAX, 50}}) {
        ASSERT_EQ(CPagerAlert::DialCommand("1", loaded, "2"), "ATDT1" + std::string(commas, ',') + "2\r\r")
            << "pause " << loaded;
    }
}

TEST_F(PagerAlertTest, AnswerToTheInitStringDoesNotEndTheDialWait) {
    // The initialisation is answered at once, the dial command only after two seconds: the first
    // answer must have been emptied out, or the second wait would end at once.
    modem.AnswerCarriageReturns({0, 2000});
    const auto took = Run();

    EXPECT_EQ(modem.Received(), kInit + kDial) << "no abort may be sent";
    EXPECT_GE(took, 1800ms);
    EXPECT_LT(took, 10s);
}

TEST_F(PagerAlertTest, SilentModemGetsTheAbortAfterTheLimitAndAnAnswerEndsTheAbortWait) {
    // Only the abort (the first carriage return the modem sees) is answered.
    modem.AnswerCarriageReturns({0});
    comm.SetCommPort(2);
    comm.SetPortOpen(true);
    CPagerAlert alert(comm, list);

    const auto start = Clock::now();
    alert.WaitForModem(2);
    const auto took = Clock::now() - start;

    EXPECT_EQ(modem.Received(), "\r");
    const auto crs = modem.CarriageReturnTimes();
    ASSERT_EQ(crs.size(), 1u);
    // Whole seconds of the wall clock: a limit of 2 ends after 1 to 2 seconds.
    EXPECT_GE(crs[0] - start, 900ms);
    EXPECT_LT(crs[0] - start, 3s);
    EXPECT_LT(took - (crs[0] - start), 2s) << "the answer must end the abort wait";
    EXPECT_EQ(comm.GetInBufferCount(), 0) << "the buffer is emptied after the wait";
}

TEST_F(PagerAlertTest, ControlErrorsReachTheCallerWithTheirDescription) {
    modem.AnswerEveryCarriageReturn();

    list.m_nComPort = -1; // no port chosen: port number 0
    try {
        Run();
        FAIL() << "port 0 must fail";
    } catch (const CCommError& e) {
        EXPECT_NE(std::string(e.what()).find("Invalid Port Number"), std::string::npos) << e.what();
    }

    list.m_nComPort = 3; // COM4, pointed at a device that does not exist
    ScopedPortOverride missing(4, "/nonexistent/pulsewick-modem");
    try {
        Run();
        FAIL() << "a missing device must fail";
    } catch (const CCommError& e) {
        EXPECT_NE(std::string(e.what()).find("COM4 (/nonexistent/pulsewick-modem) does not exist"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(modem.Received(), "");
}

// Fails the dial command as a control would whose line broke after the port was opened.
class CommFailingOnDial : public CCMSCommCtrl {
public:
    void SetOutput(const std::string& data) override {
        if (data.rfind("ATDT", 0) == 0)
            throw CCommError("Write failed: line broken");
        CCMSCommCtrl::SetOutput(data);
    }
};

TEST_F(PagerAlertTest, FailureAfterOpeningClosesThePortBeforeTheErrorGoesOn) {
    modem.AnswerEveryCarriageReturn();
    CommFailingOnDial failing;
    try {
        Run(failing);
        FAIL() << "the dial must fail";
    } catch (const CCommError& e) {
        EXPECT_STREQ(e.what(), "Write failed: line broken");
    }
    EXPECT_EQ(modem.ProgramDescriptorsOnLine(), 0) << "the port is closed";
    EXPECT_EQ(modem.Received(), kInit);

    // The port is free for the next alert.
    Run();
    EXPECT_EQ(modem.Received(), kInit + kInit + kDial);
}

TEST_F(PagerAlertTest, ModemThatHangsUpDuringAWaitEndsTheAlertAtOnceWithAnError) {
    // Answers nothing, then goes away while the alert waits for the initialisation string, as an
    // unplugged modem would.
    std::thread hangUp([&] {
        modem.WaitForBytes(kInit.size(), 5000);
        std::this_thread::sleep_for(300ms);
        modem.HangUp();
    });
    const auto cpuBefore = testsupport::ThreadCpuTime();
    const auto start = Clock::now();
    std::string error;
    try {
        Run();
    } catch (const CCommError& e) {
        error = e.what();
    }
    const auto took = Clock::now() - start;
    const auto cpu = testsupport::ThreadCpuTime() - cpuBefore;
    hangUp.join();

    EXPECT_EQ(error, "Port failure: COM2 (" + modem.SlavePath() + ") was hung up or removed");
    EXPECT_LT(took, 2500ms) << "a dead line must not be waited on";
    EXPECT_LT(cpu, 300ms) << "a dead line must not make the wait spin";
    EXPECT_EQ(modem.ProgramDescriptorsOnLine(), 0) << "the port is closed";

    // The next alert starts afresh: the port can be opened again.
    FakeModem next;
    ScopedPortOverride nextPort(2, next.SlavePath());
    next.AnswerEveryCarriageReturn();
    Run();
    EXPECT_EQ(next.Received(), kInit + kDial);
}

// A silent modem makes the alert last its full time: about 3 + 5 seconds for the initialisation
// string and 30 + 5 for the dial command. Meanwhile the thread's events keep running and the
// thread itself sleeps.
TEST(PagerAlertSilentModem, AlertRunsItsFullTimeWhileTheThreadStaysIdle) {
    testsupport::QtTestApp();
    FakeModem modem;
    ScopedPortOverride override(2, modem.SlavePath());
    CCMSCommCtrl comm;
    CItemList list;

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(100);

    const auto cpuBefore = testsupport::ThreadCpuTime();
    const auto start = Clock::now();
    CPagerAlert(comm, list).SendPagerAlert();
    const auto took = Clock::now() - start;
    const auto cpu = testsupport::ThreadCpuTime() - cpuBefore;

    EXPECT_EQ(modem.Received(), kInit + "\r" + kDial + "\r");
    EXPECT_GE(took, 38s);
    EXPECT_LT(took, 50s);

    const auto crs = modem.CarriageReturnTimes();
    ASSERT_EQ(crs.size(), 5u);
    // The abort follows the initialisation after 2 to 3 s and the dial command after 29 to 30 s.
    EXPECT_GE(crs[1] - crs[0], 1900ms);
    EXPECT_LT(crs[1] - crs[0], 4s);
    EXPECT_GE(crs[4] - crs[3], 28900ms);
    EXPECT_LT(crs[4] - crs[3], 31s);
    // The abort wait ends after 4 to 5 s.
    EXPECT_GE(crs[2] - crs[1], 3900ms);
    EXPECT_LT(crs[2] - crs[1], 6s);

    EXPECT_GT(ticks, 200) << "events must be dispatched while the alert waits";
    EXPECT_LT(cpu, 2s) << "the waiting thread must sleep, not spin";
    EXPECT_EQ(modem.ProgramDescriptorsOnLine(), 0) << "the port is closed";
}

} // namespace
