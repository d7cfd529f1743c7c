#include "CItemList.h"
#include "FakeModem.h"
#include "ListFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>

using testsupport::FakeModem;
using testsupport::ScopedPortOverride;
using testsupport::TempDir;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class TestPagerCommand : public ::testing::Test {
protected:
    Outcome RunCli(const std::string& arguments) {
        const auto out = dir.file("out.txt");
        const auto err = dir.file("err.txt");
        const std::string command =
            std::string(PULSEWICK_CLI) + " " + arguments + " >" + out.string() + " 2>" + err.string() + " </dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
    }

    std::string SaveList(const CItemList& list) {
        const std::string path = dir.file("pager.pwk").string();
        EXPECT_TRUE(SaveListFile(list, path).Succeeded());
        return path;
    }

    TempDir dir;
    FakeModem modem;
    ScopedPortOverride override{2, modem.SlavePath()};
};

TEST_F(TestPagerCommand, CallsThePagerAndShowsEachStep) {
    modem.AnswerCarriageReturns({0, 0}); // the initialisation and the first return of the dial command
    CItemList list;
    list.m_bPager = 1;
    const Outcome outcome = RunCli("test-pager " + SaveList(list));

    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(modem.Received(), "AT Q0 E0 M0 V0\rATDT5551234,,,,,1\r\r");
    // An answer at once may still fall into the clock's next second.
    const std::regex expected("Opened COM2 \\(" + modem.SlavePath() +
                              "\\) at 1200,N,8,1\n"
                              "Sent 15 bytes: \"AT Q0 E0 M0 V0\\\\r\"\n"
                              "The modem answered after [01] s\n"
                              "Received 2 bytes: \"0\\\\r\"\n"
                              "Sent 19 bytes: \"ATDT5551234,,,,,1\\\\r\\\\r\"\n"
                              "The modem answered after [01] s\n"
                              "Received 2 bytes: \"0\\\\r\"\n"
                              "Closed the port\n"
                              "Pager alert done: 34 bytes sent, 2 answers from the modem.\n");
    EXPECT_TRUE(std::regex_match(outcome.out, expected)) << outcome.out;
    EXPECT_EQ(outcome.err, "");
}

TEST_F(TestPagerCommand, ControlErrorIsShownAndFails) {
    CItemList list;
    list.m_nComPort = 4; // COM5
    ScopedPortOverride missing(5, "/nonexistent/pulsewick-modem");
    const Outcome outcome = RunCli("test-pager " + SaveList(list));

    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.out.find("the pager alert is off in this list"), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.err, "pulsewick-cli: Invalid Port Number: COM5 (/nonexistent/pulsewick-modem) does not exist\n");
    EXPECT_EQ(modem.Received(), "");
}

} // namespace
