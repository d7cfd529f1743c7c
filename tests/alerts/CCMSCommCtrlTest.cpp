#include "CCMSCommCtrl.h"
#include "CommError.h"
#include "FakeModem.h"
#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using testsupport::FakeModem;
using testsupport::ScopedPortOverride;

namespace {

constexpr int kPort = 7;

// Expects f() to throw CCommError and returns its description.
template <typename F>
std::string CommErrorOf(F&& f) {
    try {
        f();
    } catch (const CCommError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no CCommError thrown";
    return {};
}

class CommCtrlTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::QtTestApp(); }

    void Open(const std::string& settings = "1200,N,8,1") {
        comm.SetCommPort(kPort);
        comm.SetSettings(settings);
        comm.SetPortOpen(true);
    }

    FakeModem modem;
    ScopedPortOverride override{kPort, modem.SlavePath()};
    CCMSCommCtrl comm;
};

TEST_F(CommCtrlTest, OpenAppliesLineSettingsAndLaterChanges) {
    Open("1200,N,8,1");
    termios t = modem.CurrentSettings();
    EXPECT_EQ(cfgetospeed(&t), B1200);
    EXPECT_EQ(cfgetispeed(&t), B1200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);

    comm.SetSettings(" 2400 , n , 8 , 2 ");
    t = modem.CurrentSettings();
    EXPECT_EQ(cfgetospeed(&t), B2400);
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    // A pseudo-terminal carries 8 bits without parity only: a line that refuses a setting is an
    // error with a description, and the line keeps what it had.
    const std::string error = CommErrorOf([&] { comm.SetSettings("9600,E,7,1"); });
    EXPECT_NE(error.find("Invalid setting: \"9600,E,7,1\" on COM7"), std::string::npos) << error;
    t = modem.CurrentSettings();
    EXPECT_EQ(cfgetospeed(&t), B2400);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
}

TEST_F(CommCtrlTest, MalformedSettingsAreRefusedAndLeaveTheLineAlone) {
    Open("1200,N,8,1");
    for (const char* bad :
         {"", "1200", "1200,N,8", "1200,N,8,1,1", "abc,N,8,1", "12x0,N,8,1", "0,N,8,1", "-1200,N,8,1", "1200,X,8,1",
          "1200,NN,8,1", "1200,N,9,1", "1200,N,4,1", "1200,N,8,3", "99999999999,N,8,1"}) {
        const std::string error = CommErrorOf([&] { comm.SetSettings(bad); });
        EXPECT_NE(error.find("Invalid setting"), std::string::npos) << bad << ": " << error;
    }
    const termios t = modem.CurrentSettings();
    EXPECT_EQ(cfgetospeed(&t), B1200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

TEST_F(CommCtrlTest, OutputReachesTheModemAndInputHonoursInputLen) {
    Open();
    comm.SetOutput("ATZ\r");
    ASSERT_TRUE(modem.WaitForBytes(4, 5000));
    EXPECT_EQ(modem.Received(), "ATZ\r");

    EXPECT_EQ(comm.GetInBufferCount(), 0);
    modem.Send("HELLO");
    ASSERT_TRUE(comm.WaitForInput(5000));
    ASSERT_TRUE(modem.WaitForBytes(4, 0));
    // The whole answer may take a moment to arrive; the count covers what is there.
    for (int i = 0; i < 100 && comm.GetInBufferCount() < 5; ++i)
        comm.WaitForInput(50);
    EXPECT_EQ(comm.GetInBufferCount(), 5);

    comm.SetInputLen(2);
    EXPECT_EQ(comm.GetInput(), "HE");
    EXPECT_EQ(comm.GetInBufferCount(), 3);
    comm.SetInputLen(0);
    EXPECT_EQ(comm.GetInput(), "LLO");
    EXPECT_EQ(comm.GetInBufferCount(), 0);
    EXPECT_EQ(comm.GetInput(), "");
}

TEST_F(CommCtrlTest, PortInUseIsRefused) {
    Open();
    EXPECT_NE(CommErrorOf([&] { comm.SetPortOpen(true); }).find("Port already open"), std::string::npos);
    EXPECT_NE(CommErrorOf([&] { comm.SetCommPort(kPort + 1); }).find("Port already open"), std::string::npos);

    CCMSCommCtrl other;
    other.SetCommPort(kPort);
    const std::string error = CommErrorOf([&] { other.SetPortOpen(true); });
    EXPECT_NE(error.find("Port already open"), std::string::npos) << error;

    // Once closed, the port is free again.
    comm.SetPortOpen(false);
    other.SetPortOpen(true);
    other.SetOutput("AT\r");
    EXPECT_TRUE(modem.WaitForBytes(3, 5000));
}

TEST_F(CommCtrlTest, WriteToALineThatHungUpFails) {
    Open();
    modem.HangUp();
    const std::string error = CommErrorOf([&] { comm.SetOutput("ATDT5551234\r\r"); });
    // Reported as a failed write or as the line's failure, depending on which the port noticed first.
    EXPECT_NE(error.find("COM7 (" + modem.SlavePath() + ")"), std::string::npos) << error;
}

} // namespace
