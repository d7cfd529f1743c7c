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

TEST(CommCtrlDevice, PortNumberNamesSerialDeviceUnlessOverridden) {
    unsetenv("PULSEWICK_COM2");
    EXPECT_EQ(CCMSCommCtrl::DevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(CCMSCommCtrl::DevicePath(2), "/dev/ttyS1");
    ScopedPortOverride override(2, "/dev/pts/42");
    EXPECT_EQ(CCMSCommCtrl::DevicePath(2), "/dev/pts/42");
    EXPECT_EQ(CCMSCommCtrl::DevicePath(3), "/dev/ttyS2");
}

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

TEST_F(CommCtrlTest, WaitForInputSleepsUntilDataOrTimeout) {
    Open();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(comm.WaitForInput(300));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(3));

    modem.Send("0\r");
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(comm.WaitForInput(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(CommCtrlTest, InputArrivedBeforeOpeningIsNotCountedAsAnAnswer) {
    modem.Send("RING\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Open();
    EXPECT_EQ(comm.GetInBufferCount(), 0);
}

TEST_F(CommCtrlTest, BadPortNumbersAndMissingDevicesAreErrorsWithDescriptions) {
    EXPECT_NE(CommErrorOf([&] { comm.SetCommPort(0); }).find("Invalid Port Number"), std::string::npos);
    EXPECT_NE(CommErrorOf([&] { comm.SetCommPort(-1); }).find("Invalid Port Number"), std::string::npos);

    ScopedPortOverride missing(kPort + 1, "/nonexistent/pulsewick-tty");
    comm.SetCommPort(kPort + 1);
    const std::string error = CommErrorOf([&] { comm.SetPortOpen(true); });
    EXPECT_NE(error.find("Invalid Port Number"), std::string::npos) << error;
    EXPECT_NE(error.find("COM8 (/nonexistent/pulsewick-tty)"), std::string::npos) << error;
    EXPECT_FALSE(comm.IsPortOpen());

    EXPECT_NE(CommErrorOf([&] { comm.SetInputLen(-1); }).find("Invalid property value"), std::string::npos);
}

TEST_F(CommCtrlTest, OperationsNeedAnOpenPort) {
    for (const auto& operation :
         std::initializer_list<std::function<void()>>{[&] { comm.SetOutput("AT\r"); }, [&] { comm.GetInBufferCount(); },
                                                      [&] { comm.GetInput(); }, [&] { comm.WaitForInput(10); }}) {
        EXPECT_EQ(CommErrorOf(operation), "Operation valid only when the port is open");
    }
    comm.SetPortOpen(false); // closing a closed port is harmless
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
