#include "SmtpAlert.h"
#include "CItemList.h"
#include "LoopbackPorts.h"
#include "PrivateNetwork.h"
#include "ScriptedServer.h"
#include "SmtpOptions.h"
#include "SmtpSink.h"
#include "TempDir.h"
#include "ThreadCpuTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

using namespace std::chrono_literals;
using namespace std::string_literals;
using testsupport::ScriptedServer;
using testsupport::ThreadCpuSeconds;
using Clock = std::chrono::steady_clock;

namespace {

// The plain dialogue with the server on port: tests cannot count on port 25.
std::string SendMailAlert(const CItemList& list, std::uint16_t port) {
    SmtpOptions options;
    options.port = port;
    return ::SendMailAlert(list, options);
}

void AddEntry(CItemList& list, const std::string& address, int connect, int port, int result) {
    auto item = std::make_unique<CItem>();
    item->m_strAddress = address;
    item->m_bConnect = connect;
    item->m_nPort = port;
    item->m_bResult = result;
    list.AddTail(std::move(item));
}

// A list whose last run failed for one ICMP and one TCP entry, with one entry that answered.
std::unique_ptr<CItemList> FailedRunList() {
    auto list = std::make_unique<CItemList>();
    list->m_strServer = "127.0.0.1";
    list->m_strFrom = "monitor@pulsewick.invalid";
    list->m_strTo = "admin@pulsewick.invalid";
    list->m_strSubject = "Connections down";
    AddEntry(*list, "192.168.0.7", 0, 80, 0);
    AddEntry(*list, "fine.invalid", 1, 22, 1);
    AddEntry(*list, "192.168.0.9", 1, 80, 0);
    AddEntry(*list, "mail.invalid", 1, 25, 0);
    return list;
}

const char* kFailedRunBody = "The following connections have failed:\r\n"
                             "192.168.0.7:ICMP\r\n"
                             "192.168.0.9:80\r\n"
                             "mail.invalid:25\r\n";

const char* kFailedRunHeaders = "From: monitor@pulsewick.invalid\r\n"
                                "To: admin@pulsewick.invalid\r\n"
                                "Subject: Connections down\r\n"
                                "\r\n";

// The envelope the SMTP sink records for a list with the usual server, sender and recipient.
const char* kSinkEnvelope = "HELO 127.0.0.1\n"
                            "MAIL FROM monitor@pulsewick.invalid\n"
                            "RCPT TO admin@pulsewick.invalid\n";

// What the client sends, command by command, for FailedRunList.
std::vector<std::string> FailedRunCommands() {
    return {"HELO 127.0.0.1\r\n",
            "MAIL FROM:<monitor@pulsewick.invalid>\r\n",
            "RCPT TO:<admin@pulsewick.invalid>\r\n",
            "DATA\r\n",
            std::string(kFailedRunHeaders) + kFailedRunBody + "\r\n.\r\n",
            "QUIT\r\n"};
}

// The replies of a well-behaved server: the greeting, then one per command up to the end of
// the body (QUIT's reply never comes).
std::vector<std::string> GoodReplies() {
    return {"220 mail.invalid ESMTP\r\n",
            "250 mail.invalid\r\n",
            "250 2.1.0 Ok\r\n",
            "250 2.1.5 Ok\r\n",
            "354 End data with <CR><LF>.<CR><LF>\r\n",
            "250 2.0.0 Ok: queued\r\n"};
}

constexpr const char* kClose = "";

// Plays replies in order, reading each command first; an empty reply closes the connection.
std::vector<ScriptedServer::Step> Script(const std::vector<std::string>& replies) {
    std::vector<ScriptedServer::Step> steps;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        if (i == 5)
            steps.push_back(ScriptedServer::ReadUntil("\r\n.\r\n"));
        else if (i > 0)
            steps.push_back(ScriptedServer::ReadLine());
        steps.push_back(replies[i].empty() ? ScriptedServer::Close() : ScriptedServer::Say(replies[i]));
    }
    steps.push_back(ScriptedServer::ReadLine()); // QUIT, left unanswered
    return steps;
}

std::string Join(const std::vector<std::string>& parts, std::size_t count) {
    std::string all;
    for (std::size_t i = 0; i < count && i < parts.size(); ++i)
        all += parts[i];
    return all;
}

} // namespace

TEST(SmtpAlertRealServer, MessageArrivesExactly) {
    testsupport::TempDir dir;
    testsupport::SmtpSink sink(dir.path());
    auto list = FailedRunList();
    ASSERT_EQ(SendMailAlert(*list, sink.Port()), smtp::kOk);

    // Nothing failed: only the heading, then the empty line before the end.
    CItemList allFine;
    allFine.m_strServer = "127.0.0.1";
    allFine.m_strFrom = "monitor@pulsewick.invalid";
    allFine.m_strTo = "admin@pulsewick.invalid";
    allFine.m_strSubject = "All well";
    AddEntry(allFine, "192.168.0.7", 0, 80, 1);
    ASSERT_EQ(SendMailAlert(allFine, sink.Port()), smtp::kOk);

    ASSERT_EQ(sink.Count(), 2);
    const auto first = sink.Get(1);
    EXPECT_EQ(first->envelope, kSinkEnvelope);
    EXPECT_EQ(first->content, std::string(kFailedRunHeaders) + kFailedRunBody + "\r\n");
    const auto second = sink.Get(2);
    EXPECT_EQ(second->content, "From: monitor@pulsewick.invalid\r\n"
                               "To: admin@pulsewick.invalid\r\n"
                               "Subject: All well\r\n"
                               "\r\n"
                               "The following connections have failed:\r\n"
                               "\r\n");
}

// Line breaks in a list file's values could end the body early and issue commands or headers of
// their own; a leading dot would be taken away by the server.
TEST(SmtpAlertRealServer, ValuesEndAtTheirFirstLineBreakAndLeadingDotsArrive) {
    testsupport::TempDir dir;
    testsupport::SmtpSink sink(dir.path());
    CItemList list;
    list.m_strServer = "127.0.0.1\r\nRSET";
    list.m_strFrom = "monitor@pulsewick.invalid\r\nRSET\r\nMAIL FROM:<spy@pulsewick.invalid>";
    list.m_strTo = "admin@pulsewick.invalid\nRCPT TO:<spy@pulsewick.invalid>";
    list.m_strSubject = "Connections down\0\r\nBcc: spy@pulsewick.invalid"s; // the zero byte ends it too
    AddEntry(list, "192.168.0.7\r\n.\r\nMAIL FROM:<spy@pulsewick.invalid>", 0, 80, 0);
    AddEntry(list, ".", 1, 80, 0);
    AddEntry(list, ".hidden.invalid", 1, 25, 0);
    ASSERT_EQ(SendMailAlert(list, sink.Port()), smtp::kOk);

    ASSERT_EQ(sink.Count(), 1);
    const auto message = sink.Get(1);
    EXPECT_EQ(message->envelope, kSinkEnvelope);
    EXPECT_EQ(message->content, std::string(kFailedRunHeaders) + "The following connections have failed:\r\n"
                                                                 "192.168.0.7:ICMP\r\n"
                                                                 ".:80\r\n"
                                                                 ".hidden.invalid:25\r\n"
                                                                 "\r\n");
}

TEST(SmtpAlertDialogue, WellBehavedServerNeverAnsweringQuit) {
    ScriptedServer server(Script(GoodReplies()));
    auto list = FailedRunList();
    const auto start = Clock::now();
    EXPECT_EQ(SendMailAlert(*list, server.Port()), smtp::kOk);
    // QUIT is sent but its reply not awaited, and the connection is closed at once: well before
    // the watchdog would have ended a wait for that reply.
    EXPECT_LT(Clock::now() - start, 5s);
    ASSERT_TRUE(server.WaitForEnd(5s));
    EXPECT_EQ(server.Received(), Join(FailedRunCommands(), 6));
}

// The mail server may be an IPv6 host, given as a literal or as a name with only an IPv6
// address; HELO names it exactly as it was configured.
TEST(SmtpAlertDialogue, IPv6ServerByLiteralOrName) {
    const auto deliver = [](const std::string& serverText) {
        ScriptedServer server(Script(GoodReplies()), 0, /*ipv6=*/true);
        auto list = FailedRunList();
        list->m_strServer = serverText;
        EXPECT_EQ(SendMailAlert(*list, server.Port()), smtp::kOk) << serverText;
        ASSERT_TRUE(server.WaitForEnd(5s));
        auto commands = FailedRunCommands();
        commands[0] = "HELO " + serverText + "\r\n";
        EXPECT_EQ(server.Received(), Join(commands, 6));
    };
    deliver("::1");
    deliver("[::1]");
    std::string reason;
    if (!testsupport::RunWithHostsFile(
            "::1 pulsewick-mail6.test\n", [&] { deliver("pulsewick-mail6.test"); }, &reason))
        GTEST_SKIP() << reason;
}

struct BadStep {
    std::size_t stage;   // 0: the greeting; n: the reply to the n-th command
    const char* reply;   // kClose: the server closes instead
    const char* outcome; // what SendMailAlert must return
};

class SmtpAlertBadStep : public ::testing::TestWithParam<BadStep> {};

// Every failure ends the dialogue right there: nothing after the failed step is sent.
TEST_P(SmtpAlertBadStep, EndsTheDialogueThere) {
    const BadStep bad = GetParam();
    auto replies = GoodReplies();
    replies[bad.stage] = bad.reply;
    replies.resize(bad.stage + 1);
    ScriptedServer server(Script(replies));
    auto list = FailedRunList();
    EXPECT_EQ(SendMailAlert(*list, server.Port()), bad.outcome);
    ASSERT_TRUE(server.WaitForEnd(5s));
    EXPECT_EQ(server.Received(), Join(FailedRunCommands(), bad.stage));
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, SmtpAlertBadStep,
    ::testing::Values(BadStep{0, kClose, smtp::kNoGreeting}, BadStep{1, kClose, smtp::kHeloError},
                      BadStep{1, "500 unknown\r\n", smtp::kHeloUnexpected}, BadStep{2, kClose, smtp::kMailFromError},
                      BadStep{2, "553 no such sender\r\n", smtp::kMailFromUnexpected},
                      BadStep{3, kClose, smtp::kRcptToError},
                      BadStep{3, "550 no such user\r\n", smtp::kRcptToUnexpected}, BadStep{4, kClose, smtp::kDataError},
                      // Two characters are not enough at DATA: the code must be 354.
                      BadStep{4, "350 go on\r\n", smtp::kDataUnexpected}, BadStep{5, kClose, smtp::kBodyError},
                      BadStep{5, "554 rejected\r\n", smtp::kBodyUnexpected}));

TEST(SmtpAlertDialogue, GreetingInTwoPieces) {
    // The pause keeps the late greeting line and the HELO reply in separate receives.
    ScriptedServer server({ScriptedServer::Say("220-mail.invalid first line\r\n"), ScriptedServer::ReadLine(),
                           ScriptedServer::Say("220 mail.invalid last line\r\n"), ScriptedServer::Pause(1s),
                           ScriptedServer::Say("250 mail.invalid\r\n"), ScriptedServer::ReadLine(),
                           ScriptedServer::Say("250 Ok\r\n"), ScriptedServer::ReadLine(),
                           ScriptedServer::Say("250 Ok\r\n"), ScriptedServer::ReadLine(),
                           ScriptedServer::Say("354 Go\r\n"), ScriptedServer::ReadUntil("\r\n.\r\n"),
                           ScriptedServer::Say("250 Queued\r\n")});
    auto list = FailedRunList();
    EXPECT_EQ(SendMailAlert(*list, server.Port()), smtp::kOk);
}

TEST(SmtpAlertDialogue, RefusalGreetingIsNoticedOnlyAfterHelo) {
    auto replies = GoodReplies();
    replies[0] = "554 go away\r\n";
    replies[1] = "503 bad sequence\r\n";
    replies.resize(2);
    ScriptedServer server(Script(replies));
    auto list = FailedRunList();
    EXPECT_EQ(SendMailAlert(*list, server.Port()), smtp::kHeloUnexpected);
    ASSERT_TRUE(server.WaitForEnd(5s));
    EXPECT_EQ(server.Received(), "HELO 127.0.0.1\r\n");
}

TEST(SmtpAlertDialogue, OverlongReplySpillsIntoTheNextOne) {
    // 1023 bytes of a good HELO reply, then more: the rest is taken as the reply to MAIL FROM.
    auto replies = GoodReplies();
    replies[1] = "250-" + std::string(1019, 'x') + "550 spilt over\r\n";
    replies.resize(3);
    ScriptedServer server(Script(replies));
    auto list = FailedRunList();
    EXPECT_EQ(SendMailAlert(*list, server.Port()), smtp::kMailFromUnexpected);
    ASSERT_TRUE(server.WaitForEnd(5s));
    EXPECT_EQ(server.Received(), Join(FailedRunCommands(), 2));
}

// Ordinary values go out byte for byte; only a leading dot is doubled.
TEST(SmtpAlertDialogue, SettingsAreSentExactlyAsHeld) {
    ScriptedServer server(Script(GoodReplies()));
    CItemList list;
    list.m_strServer = "127.0.0.1";
    list.m_strTo = "a@one.invalid, b@two.invalid";
    list.m_strSubject = "=?x?= .";
    AddEntry(list, ".", 0, 80, 0);
    AddEntry(list, "h.invalid", 1, 65535, 0);
    EXPECT_EQ(SendMailAlert(list, server.Port()), smtp::kOk);
    ASSERT_TRUE(server.WaitForEnd(5s));
    EXPECT_EQ(server.Received(), "HELO 127.0.0.1\r\n"
                                 "MAIL FROM:<>\r\n"
                                 "RCPT TO:<a@one.invalid, b@two.invalid>\r\n"
                                 "DATA\r\n"
                                 "From: \r\n"
                                 "To: a@one.invalid, b@two.invalid\r\n"
                                 "Subject: =?x?= .\r\n"
                                 "\r\n"
                                 "The following connections have failed:\r\n"
                                 "..:ICMP\r\n"
                                 "h.invalid:65535\r\n"
                                 "\r\n.\r\n"
                                 "QUIT\r\n");
}

TEST(SmtpAlertDialogue, NoServer) {
    testsupport::LoopbackPort closed(testsupport::LoopbackPort::Kind::closed);
    auto list = FailedRunList();
    EXPECT_EQ(SendMailAlert(*list, closed.Port()), smtp::kConnectFailed);
}

TEST(SmtpAlertDialogue, ServerNameThatDoesNotResolve) {
    // Looked up where no name server is reachable, so no query leaves the machine.
    std::string reason;
    const auto outcome = testsupport::RunInPrivateNetwork(
        [] {
            auto list = FailedRunList();
            list->m_strServer = "no-such-server.invalid";
            return SendMailAlert(*list);
        },
        &reason);
    if (!outcome)
        GTEST_SKIP() << reason;
    EXPECT_EQ(*outcome, smtp::kConnectFailed);
}

TEST(SmtpAlertSlow, SilentServerGivesUpAfterTenSecondsWithoutBurningCpu) {
    ScriptedServer server({});
    auto list = FailedRunList();
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    EXPECT_EQ(SendMailAlert(*list, server.Port()), smtp::kNoGreeting);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 10s);
    EXPECT_LE(elapsed, 12500ms);
    EXPECT_LT(ThreadCpuSeconds() - cpuBefore, 0.5);
    ASSERT_TRUE(server.WaitForEnd(5s));
    EXPECT_EQ(server.Received(), "");
}
