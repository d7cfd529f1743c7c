// Probes of hosts that never answer. Slow by nature: each case is its own ctest entry.
#include "AbortableThread.h"
#include "CItem.h"
#include "SilentHostNamespace.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using testsupport::CountOpenFds;
using testsupport::CountThreads;
using testsupport::SilentHostNamespace;
using testsupport::SnmpCounter;
using Clock = std::chrono::steady_clock;

namespace {

class SilentHost : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_ns.IsAvailable())
            GTEST_SKIP() << m_ns.Reason();
        m_inside = std::make_unique<SilentHostNamespace::Inside>(m_ns);
    }
    void TearDown() override { m_inside.reset(); }

    static CItem Entry(std::int32_t connect, const char* address) {
        CItem item;
        item.m_bConnect = connect;
        item.m_strAddress = address;
        item.m_nPort = 80;
        item.m_bResult = 1;
        return item;
    }

    // Runs item's probe on an abortable thread; returned is set if the probe comes back.
    static AbortableThreadPtr StartProbe(CItem& item, std::atomic<bool>& returned) {
        return AbortableThreadPtr(StartAbortableThread([&]() -> unsigned int {
            item.Check();
            returned = true;
            return 1;
        }));
    }

    // Stops the probe's thread and expects it to end at once.
    static void StopAndExpectPromptEnd(AbortableThreadHandle* thread) {
        const auto stoppedAt = Clock::now();
        StopAbortableThread(thread);
        while (IsAbortableThreadRunning(thread->hThread) && Clock::now() - stoppedAt < 5s)
            std::this_thread::sleep_for(1ms);
        EXPECT_LT(Clock::now() - stoppedAt, 1s);
    }

    // Probes item on an abortable thread, stops it after `after` and checks that it ends at
    // once, without a result, leaving descriptors and threads as they were.
    void ExpectStopEndsProbe(CItem item, std::chrono::milliseconds after) {
        const int fdsBefore = CountOpenFds();
        const int threadsBefore = CountThreads();
        std::atomic<bool> returned{false};
        AbortableThreadPtr thread = StartProbe(item, returned);
        ASSERT_TRUE(thread);
        std::this_thread::sleep_for(after);
        ASSERT_TRUE(IsAbortableThreadRunning(thread->hThread)) << "the probe should still be waiting";

        StopAndExpectPromptEnd(thread.get());
        EXPECT_FALSE(returned) << "the probe must not go on after a stop";
        EXPECT_EQ(item.m_bResult, 1) << "a stopped probe stores no result";
        thread.reset();
        EXPECT_EQ(testsupport::WaitForThreadCount(threadsBefore, 5000), threadsBefore);
        EXPECT_EQ(CountOpenFds(), fdsBefore) << "the probe's socket must be closed by the unwinding";
    }

    SilentHostNamespace m_ns;
    std::unique_ptr<SilentHostNamespace::Inside> m_inside;
};

} // namespace

TEST_F(SilentHost, IcmpGivesZeroAfterTenSeconds) {
    CItem item = Entry(0, SilentHostNamespace::kSilentAddress);
    const auto start = Clock::now();
    EXPECT_EQ(item.Check(), 0);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(item.m_bResult, 0);
    EXPECT_GE(elapsed, 9900ms);
    EXPECT_LT(elapsed, 15s);
}

TEST_F(SilentHost, IcmpErrorFromTheStackIsNoAnswer) {
    const long long unreachableBefore = SnmpCounter("Icmp", "InDestUnreachs");
    CItem item = Entry(0, SilentHostNamespace::kUnreachableAddress);
    const auto start = Clock::now();
    EXPECT_EQ(item.Check(), 0);
    EXPECT_GE(Clock::now() - start, 9900ms);
    EXPECT_GT(SnmpCounter("Icmp", "InDestUnreachs"), unreachableBefore) << "the stack should have reported it";
}

TEST_F(SilentHost, TcpConnectWaitsUntilStopped) {
    ExpectStopEndsProbe(Entry(1, SilentHostNamespace::kSilentAddress), 1500ms);
}

TEST_F(SilentHost, IcmpWaitEndsWhenStopped) {
    ExpectStopEndsProbe(Entry(0, SilentHostNamespace::kSilentAddress), 500ms);
}

TEST_F(SilentHost, IPv6WaitsEndWhenStopped) {
    if (!m_ns.HasIPv6())
        GTEST_SKIP() << "no IPv6 here";
    ExpectStopEndsProbe(Entry(0, SilentHostNamespace::kSilentAddress6), 500ms);
    ExpectStopEndsProbe(Entry(1, SilentHostNamespace::kSilentAddress6), 1500ms);
}

// The name server of /etc/resolv.conf, when it is an IPv4 address that is not on loopback.
static std::string RemoteNameServer() {
    std::ifstream conf("/etc/resolv.conf");
    std::string line;
    while (std::getline(conf, line)) {
        std::istringstream words(line);
        std::string keyword;
        std::string address;
        if (words >> keyword >> address && keyword == "nameserver") {
            in_addr parsed{};
            if (::inet_pton(AF_INET, address.c_str(), &parsed) == 1 && (ntohl(parsed.s_addr) >> 24) != 127)
                return address;
            return {};
        }
    }
    return {};
}

TEST_F(SilentHost, StopAbandonsAStuckNameLookup) {
    // Queries to the name server vanish at the silent host, so the lookup hangs for the
    // resolver's whole time-out; the worker must not wait for it.
    const std::string server = RemoteNameServer();
    if (server.empty() || !m_ns.RouteToSilence(server))
        GTEST_SKIP() << "no remote IPv4 name server to silence";
    const int threadsBefore = CountThreads();
    const int fdsBefore = CountOpenFds();
    CItem item = Entry(1, "pulsewick-stuck.invalid");
    std::atomic<bool> returned{false};
    AbortableThreadPtr thread = StartProbe(item, returned);
    ASSERT_TRUE(thread);
    std::this_thread::sleep_for(500ms);
    if (returned)
        GTEST_SKIP() << "the lookup did not hang here";

    StopAndExpectPromptEnd(thread.get());
    EXPECT_FALSE(returned);
    thread.reset();
    // The abandoned lookup ends with the resolver's time-out and frees what it held.
    EXPECT_EQ(testsupport::WaitForThreadCount(threadsBefore, 60000), threadsBefore);
    EXPECT_EQ(CountOpenFds(), fdsBefore);
}
