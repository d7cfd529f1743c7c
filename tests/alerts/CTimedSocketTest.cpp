#include "CTimedSocket.h"
#include "LoopbackPorts.h"
#include "PrivateNetwork.h"
#include "ScriptedServer.h"
#include "SilentHostNamespace.h"
#include "ThreadCpuTime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <future>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using testsupport::ScriptedServer;
using testsupport::ThreadCpuSeconds;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kShortBudget = 1000ms;
// A cancelled wait must end within this after the budget; the socket promises about 2 s at most.
constexpr auto kCancelSlack = 2500ms;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void ConnectTo(CTimedSocket& socket, const ScriptedServer& server) {
    ASSERT_TRUE(socket.Create());
    ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port())) << socket.GetLastError();
}

// A server that takes the connection and never sends a byte: the waiting receive is cancelled
// once the budget has run out, counted from construction, not from the call.
void ExpectSilentServerInterrupted(std::chrono::milliseconds budget) {
    ScriptedServer server({});
    const auto constructed = Clock::now();
    CTimedSocket socket(budget);
    ConnectTo(socket, server);
    std::string reply = "stale";
    EXPECT_EQ(socket.ReceiveString(reply), -1);
    const auto elapsed = Clock::now() - constructed;
    EXPECT_EQ(socket.GetLastError(), EINTR);
    EXPECT_EQ(reply, "");
    EXPECT_GE(elapsed, budget);
    EXPECT_LE(elapsed, budget + kCancelSlack) << Seconds(elapsed);
}

// The last call ends just before the budget runs out and the socket lives on past it: the
// watchdog fires with nothing waiting, and must leave no cancellation behind for later calls.
void ExpectLateFiringHarmless(std::chrono::milliseconds budget) {
    const auto early = budget - budget / 10;
    ScriptedServer server({ScriptedServer::Say("220 hello\r\n"), ScriptedServer::ReadLine(),
                           ScriptedServer::Pause(budget / 5 + 200ms), ScriptedServer::Say("250 late\r\n")});
    const int threadsWithoutSocket = testsupport::CountThreads();
    const auto constructed = Clock::now();
    CTimedSocket socket(budget);
    ConnectTo(socket, server);
    std::this_thread::sleep_until(constructed + early);
    std::string reply;
    EXPECT_EQ(socket.ReceiveString(reply), 11);
    EXPECT_EQ(reply, "220 hello\r\n");
    EXPECT_EQ(socket.SendString("NEXT\r\n"), 6);
    // The watchdog thread ends once it has acted.
    const int waitMs = static_cast<int>((budget + 2s).count());
    EXPECT_EQ(testsupport::WaitForThreadCount(threadsWithoutSocket, waitMs), threadsWithoutSocket);
    EXPECT_GE(Clock::now() - constructed, budget);
    // This call starts after the watchdog acted, so it is unguarded and gets its answer.
    EXPECT_EQ(socket.ReceiveString(reply), 10) << socket.GetLastError();
    EXPECT_EQ(reply, "250 late\r\n");
}

} // namespace

TEST(CTimedSocketIo, SendAndReceiveText) {
    ScriptedServer server({ScriptedServer::Say("220 ready\r\n"), ScriptedServer::ReadLine(),
                           ScriptedServer::Say(std::string("abc\0def", 7)), ScriptedServer::ReadLine(),
                           ScriptedServer::Close()});
    CTimedSocket socket;
    ConnectTo(socket, server);
    std::string reply;
    EXPECT_EQ(socket.ReceiveString(reply), 11);
    EXPECT_EQ(reply, "220 ready\r\n");
    EXPECT_EQ(socket.SendString("HELO x\r\n"), 8);
    // The reply text ends at a zero byte; the count still says what arrived.
    EXPECT_EQ(socket.ReceiveString(reply), 7);
    EXPECT_EQ(reply, "abc");
    EXPECT_EQ(socket.SendString("QUIT\r\n"), 6);
    // The peer has closed: 0 and an empty reply.
    EXPECT_EQ(socket.ReceiveString(reply), 0);
    EXPECT_EQ(reply, "");
    ASSERT_TRUE(server.WaitForEnd());
    EXPECT_EQ(server.Received(), "HELO x\r\nQUIT\r\n");
}

TEST(CTimedSocketIo, ReceiveTakesAtMost1023Bytes) {
    const std::string longReply = "250-" + std::string(1496, 'x');
    ScriptedServer server({ScriptedServer::Say(longReply)});
    CTimedSocket socket;
    ConnectTo(socket, server);
    std::string all, reply;
    int n;
    while (all.size() < longReply.size() && (n = socket.ReceiveString(reply)) > 0) {
        EXPECT_LE(n, CTimedSocket::kReceiveLimit);
        EXPECT_EQ(reply.size(), static_cast<std::size_t>(n));
        all += reply;
    }
    EXPECT_EQ(all, longReply);
}

TEST(CTimedSocketIo, SendWaitsUntilEverythingIsTaken) {
    // Far more than the socket buffers hold, so the send has to wait for the reader.
    const std::string big(8 << 20, 'm');
    ScriptedServer server({ScriptedServer::Pause(300ms)});
    CTimedSocket socket;
    ConnectTo(socket, server);
    EXPECT_EQ(socket.Send(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    socket.Close();
    ASSERT_TRUE(server.WaitForEnd());
    EXPECT_EQ(server.Received().size(), big.size());
}

TEST(CTimedSocketIo, ConnectFailures) {
    CTimedSocket uncreated;
    EXPECT_FALSE(uncreated.Connect("127.0.0.1", 25));
    EXPECT_EQ(uncreated.Send("x", 1), -1);
    std::string reply;
    EXPECT_EQ(uncreated.ReceiveString(reply), -1);

    CTimedSocket refused;
    ASSERT_TRUE(refused.Create());
    testsupport::LoopbackPort closed(testsupport::LoopbackPort::Kind::closed);
    EXPECT_FALSE(refused.Connect("127.0.0.1", closed.Port()));
    EXPECT_EQ(refused.GetLastError(), ECONNREFUSED);
}

// A name that cannot resolve fails with the resolver's error. The lookup runs where the name
// server is unreachable, so no query leaves the machine.
TEST(CTimedSocketIo, UnresolvableNameFailsWithTheResolversError) {
    std::string reason;
    const auto outcome = testsupport::RunInPrivateNetwork(
        [] {
            CTimedSocket unknown;
            if (!unknown.Create())
                return std::string("no socket");
            if (unknown.Connect("no-such-host.invalid", 25))
                return std::string("connected");
            return std::to_string(unknown.GetLastError());
        },
        &reason);
    if (!outcome)
        GTEST_SKIP() << reason;
    EXPECT_EQ(outcome->front(), '-') << *outcome; // resolver errors are negative
}

TEST(CTimedSocketIo, ConnectsByName) {
    ScriptedServer server({ScriptedServer::Say("hi")});
    CTimedSocket socket;
    ASSERT_TRUE(socket.Create());
    ASSERT_TRUE(socket.Connect("localhost", server.Port())) << socket.GetLastError();
    std::string reply;
    EXPECT_EQ(socket.ReceiveString(reply), 2);
}

TEST(CTimedSocketCancel, CancelEndsTheWaitingCallAtOnce) {
    ScriptedServer server({});
    CTimedSocket socket;
    ConnectTo(socket, server);
    // Cancels again and again from the moment the call may be waiting, as an impatient user
    // would; a cancel before the call begins is rightly ignored.
    std::atomic<bool> returned{false};
    auto canceller = std::async(std::launch::async, [&] {
        const auto first = Clock::now();
        while (!returned) {
            std::this_thread::sleep_for(100ms);
            socket.CancelBlockingCall();
        }
        return first;
    });
    std::string reply;
    EXPECT_EQ(socket.ReceiveString(reply), -1);
    const auto ended = Clock::now();
    returned = true;
    EXPECT_EQ(socket.GetLastError(), EINTR);
    // Long before the watchdog's budget: the cancellation ended it.
    EXPECT_LT(ended - canceller.get(), CTimedSocket::kWatchdogTimeout / 2);
}

TEST(CTimedSocketCancel, CancelWithNothingWaitingHasNoEffect) {
    ScriptedServer server({ScriptedServer::Pause(200ms), ScriptedServer::Say("later")});
    CTimedSocket socket;
    ConnectTo(socket, server);
    socket.CancelBlockingCall();
    std::string reply;
    EXPECT_EQ(socket.ReceiveString(reply), 5);
    EXPECT_EQ(reply, "later");
}

TEST(CTimedSocketCancel, SendToAServerThatStopsReadingIsInterrupted) {
    const std::string big(64 << 20, 's');
    ScriptedServer server({ScriptedServer::StopReading()});
    CTimedSocket socket(kShortBudget);
    ConnectTo(socket, server);
    EXPECT_EQ(socket.Send(big.data(), static_cast<int>(big.size())), -1);
    EXPECT_EQ(socket.GetLastError(), EINTR);
}

TEST(CTimedSocketCancel, ConnectThatIsNotAnsweredIsInterrupted) {
    // A handshake that gets no answer, as with a host that has gone quiet.
    testsupport::LoopbackPort stalled(testsupport::LoopbackPort::Kind::stalled);
    const auto constructed = Clock::now();
    CTimedSocket socket(kShortBudget);
    ASSERT_TRUE(socket.Create());
    EXPECT_FALSE(socket.Connect("127.0.0.1", stalled.Port()));
    EXPECT_EQ(socket.GetLastError(), EINTR);
    EXPECT_LE(Clock::now() - constructed, kShortBudget + kCancelSlack);
}

TEST(CTimedSocketWatchdog, SilentServerWithShortBudget) {
    ExpectSilentServerInterrupted(kShortBudget);
}

TEST(CTimedSocketWatchdog, FiringAfterTheLastCallIsHarmlessWithShortBudget) {
    ExpectLateFiringHarmless(kShortBudget);
}

TEST(CTimedSocketWatchdog, EachSocketHasItsOwnBudget) {
    ScriptedServer first({}), second({});
    const auto firstConstructed = Clock::now();
    auto firstEnded = std::async(std::launch::async, [&first] {
        CTimedSocket socket(1000ms);
        ConnectTo(socket, first);
        std::string reply;
        EXPECT_EQ(socket.ReceiveString(reply), -1);
        EXPECT_EQ(socket.GetLastError(), EINTR);
        return Clock::now();
    });
    std::this_thread::sleep_for(500ms);
    const auto secondConstructed = Clock::now();
    CTimedSocket socket(1500ms);
    ConnectTo(socket, second);
    std::string reply;
    EXPECT_EQ(socket.ReceiveString(reply), -1);
    EXPECT_EQ(socket.GetLastError(), EINTR);
    const auto secondEnded = Clock::now() - secondConstructed;
    const auto firstElapsed = firstEnded.get() - firstConstructed;
    EXPECT_GE(firstElapsed, 1000ms);
    EXPECT_LT(firstElapsed, 1000ms + kCancelSlack);
    EXPECT_GE(secondEnded, 1500ms);
    EXPECT_LT(secondEnded, 1500ms + kCancelSlack);
}

TEST(CTimedSocketWatchdog, DestroyedBeforeTheWatchdogWaits) {
    // Sockets that go at once, usually before their watchdog thread has even begun to wait.
    for (int i = 0; i < 200; ++i) {
        const auto start = Clock::now();
        { CTimedSocket socket; }
        ASSERT_LT(Clock::now() - start, 1s) << "the release did not end the watchdog";
    }
}

TEST(CTimedSocketWatchdog, WaitingCallSleeps) {
    ScriptedServer server({});
    CTimedSocket socket(kShortBudget);
    ConnectTo(socket, server);
    const double cpuBefore = ThreadCpuSeconds();
    std::string reply;
    EXPECT_EQ(socket.ReceiveString(reply), -1);
    EXPECT_LT(ThreadCpuSeconds() - cpuBefore, 0.2);
}

// Real-time cases with the production budget; each is its own ctest entry.
TEST(CTimedSocketSlow, SilentServerInterruptedAfterTenSeconds) {
    ExpectSilentServerInterrupted(CTimedSocket::kWatchdogTimeout);
}

TEST(CTimedSocketSlow, FiringAfterTheLastCallIsHarmless) {
    ExpectLateFiringHarmless(CTimedSocket::kWatchdogTimeout);
}

TEST(CTimedSocketSlow, DestroyedAfterThreeSecondsReleasesTheWatchdog) {
    ScriptedServer server({ScriptedServer::Say("220 hello\r\n")});
    std::optional<CTimedSocket> socket(std::in_place);
    ConnectTo(*socket, server);
    std::string reply;
    EXPECT_EQ(socket->ReceiveString(reply), 11);
    std::this_thread::sleep_for(3s);
    const auto start = Clock::now();
    socket.reset();
    // Far below the seven seconds the watchdog still had to wait.
    EXPECT_LT(Clock::now() - start, 2s);
}
