// IPv6 hosts: literals and names, ICMPv6 echo and TCP over IPv6 on ::1, silent and unreachable
// IPv6 hosts in a namespace of the test's own, in a whole pass next to IPv4 entries.
#include "AddressResolver.h"
#include "CCheckRun.h"
#include "CItemList.h"
#include "IcmpProbe.h"
#include "LoopbackPorts.h"
#include "PrivateNetwork.h"
#include "ProbeEntry.h"
#include "SilentHostNamespace.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>

#include <chrono>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using testsupport::LoopbackPort;
using testsupport::SilentHostNamespace;
using testsupport::SnmpCounter;
using Clock = std::chrono::steady_clock;

namespace {

void Add(CItemList& list, const CItem& entry) {
    list.AddTail(std::make_unique<CItem>(entry));
}

std::string Text(const HostAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.IsIPv6()) {
        const in6_addr bytes = address.GetIPv6();
        ::inet_ntop(AF_INET6, &bytes, text, sizeof text);
        return std::string(text) + (address.Scope() ? "%" + std::to_string(address.Scope()) : "");
    }
    const in_addr_t bytes = address.GetIPv4();
    ::inet_ntop(AF_INET, &bytes, text, sizeof text);
    return text;
}

std::string Parsed(const std::string& text) {
    const auto address = ParseAddressLiteral(text);
    return address ? Text(*address) : "-";
}

} // namespace

TEST(AddressText, IPv6LiteralsBesideUnchangedDottedText) {
    const std::string lo = std::to_string(::if_nametoindex("lo"));
    for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
             {"::1", "::1"},
             {"[::1]", "::1"},
             {"FD00:213:0::2", "fd00:213::2"},
             {"fe80::1%lo", "fe80::1%" + lo},
             {"[fe80::1%lo]", "fe80::1%" + lo},
             {"fe80::1%" + lo, "fe80::1%" + lo},
             {"fe80::1%pulsewick-none", "-"}, // no such interface
             {"[::1", "-"},
             {"::1]", "-"},
             {"[[::1]]", "-"},
             {"[127.0.0.1]", "-"},
             {"::1 ", "-"},
             {":::", "-"},
             // dotted text exactly as inet_addr takes it
             {"127.1", "127.0.0.1"},
             {"0x7f.0.0.1", "127.0.0.1"},
             {"127.0.0.1 trailing", "127.0.0.1"},
             {"1.2.3.4.5", "-"},
             {"255.255.255.255", "-"},
             {"localhost", "-"},
             {"", "-"},
         }) {
        EXPECT_EQ(Parsed(text), expected) << '"' << text << '"';
    }
}

TEST(IPv6Loopback, EchoAndConnectAnswer) {
    LoopbackPort open(LoopbackPort::Kind::listening, /*ipv6=*/true);
    LoopbackPort closed(LoopbackPort::Kind::closed, /*ipv6=*/true);

    CItem tcp = ProbeEntry(1, "[::1]", open.Port());
    EXPECT_EQ(tcp.Check(), 1);
    EXPECT_GE(tcp.m_nLastRoundTripUs, 0);
    const int peer = open.Accept(2000);
    EXPECT_GE(peer, 0) << "the connection reached the IPv6 listener";
    if (peer >= 0)
        ::close(peer);

    CItem refused = ProbeEntry(1, "::1", closed.Port());
    const auto start = Clock::now();
    EXPECT_EQ(refused.Check(), 0);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(refused.m_nLastRoundTripUs, -1);

    for (const char* address : {"::1", "[::1]"}) {
        CItem echo = ProbeEntry(0, address);
        const int result = echo.Check();
        if (IsIcmpPrivilegeMissing())
            GTEST_SKIP() << "no privilege for ICMP sockets here";
        EXPECT_EQ(result, 1) << address;
        EXPECT_GE(echo.m_nLastRoundTripUs, 0);
    }
}

TEST(IPv6Loopback, PingSocketIsPreferred) {
    SilentHostNamespace ns(/*pingSockets=*/true);
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    SilentHostNamespace::Inside inside(ns);
    EXPECT_EQ(IcmpSocket::Open(AF_INET6).GetKind(), IcmpSocket::Kind::datagram);
    const long long echoesBefore = SnmpCounter("Icmp6", "OutEchos");
    CItem item = ProbeEntry(0, "::1");
    EXPECT_EQ(item.Check(), 1);
    EXPECT_EQ(SnmpCounter("Icmp6", "OutEchos"), echoesBefore + 1) << "exactly one request";
}

// A name resolves to its first IPv4 address; only a name without any is probed over IPv6.
TEST(IPv6Names, NameWithOnlyAnIPv6AddressIsProbedOverIPv6) {
    std::string reason;
    const bool ran = testsupport::RunWithHostsFile(
        "127.0.0.1 localhost\n::1 pulsewick-six.test\n::1 pulsewick-both.test\n127.0.0.1 pulsewick-both.test\n",
        [] {
            const auto both = LookUpHost("pulsewick-both.test");
            ASSERT_TRUE(both);
            EXPECT_EQ(Text(*both), "127.0.0.1");
            const auto six = LookUpHost("pulsewick-six.test");
            ASSERT_TRUE(six);
            EXPECT_EQ(Text(*six), "::1");

            LoopbackPort open(LoopbackPort::Kind::listening, /*ipv6=*/true);
            CItem alone = ProbeEntry(1, "pulsewick-six.test", open.Port());
            EXPECT_EQ(alone.Check(), 1);
            // Through a whole pass too, where names are looked up on helper threads.
            CItemList list;
            Add(list, ProbeEntry(1, "pulsewick-six.test", open.Port()));
            Add(list, ProbeEntry(1, "pulsewick-both.test", open.Port())); // 127.0.0.1: nobody listens
            EXPECT_EQ(CCheckRun().RunBlocking(list, nullptr), 0);
            EXPECT_EQ(list.GetAt(0).m_bResult, 1);
            EXPECT_EQ(list.GetAt(1).m_bResult, 0);
        },
        &reason);
    if (!ran)
        GTEST_SKIP() << reason;
}

// Silent and unreachable IPv6 hosts in one pass with answering ones: each silent probe takes
// the ICMP time-out, all of them together, and the log shows every address as it was entered.
TEST(IPv6SilentPass, SilentAndUnreachableHostsReadNoInOneTimeOut) {
    SilentHostNamespace ns;
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    if (!ns.HasIPv6())
        GTEST_SKIP() << "no IPv6 here";
    SilentHostNamespace::Inside inside(ns);
    testsupport::TempDir dir;
    LoopbackPort open(LoopbackPort::Kind::listening, /*ipv6=*/true);
    const std::string silent = SilentHostNamespace::kSilentAddress6;
    const std::string unreachable = SilentHostNamespace::kUnreachableAddress6;

    CItemList list;
    list.m_nLogMode = 2;
    list.m_strLogFile = dir.file("check.log").string();
    Add(list, ProbeEntry(0, silent));
    Add(list, ProbeEntry(0, "[" + unreachable + "]"));
    Add(list, ProbeEntry(1, "[::1]", open.Port()));
    Add(list, ProbeEntry(0, "127.0.0.1"));
    // More echoes to one host than may be in flight at once: the rest wait their turn.
    for (int i = 0; i < 12; ++i)
        Add(list, ProbeEntry(0, i % 2 ? "::1" : "[::1]"));
    Add(list, ProbeEntry(0, silent));

    const long long unreachableBefore = SnmpCounter("Icmp6", "InDestUnreachs");
    const auto start = Clock::now();
    EXPECT_EQ(CCheckRun().RunBlocking(list, nullptr), 0);
    const auto elapsed = Clock::now() - start;

    std::vector<int> got;
    std::string expectedLog;
    for (std::size_t row = 0; row < list.GetCount(); ++row) {
        const CItem& item = list.GetAt(row);
        got.push_back(item.m_bResult);
        expectedLog += ", " + std::to_string(item.m_bResult) + ", \"" + item.m_strAddress + "\", " +
                       std::to_string(item.m_bConnect) + ", " + std::to_string(item.m_nPort) + "\r\n";
    }
    std::vector<int> expected(list.GetCount(), 1);
    expected.front() = expected.back() = expected[1] = 0;
    EXPECT_EQ(got, expected);
    EXPECT_GE(elapsed, 9900ms);
    EXPECT_LT(elapsed, 18s);
    EXPECT_GT(SnmpCounter("Icmp6", "InDestUnreachs"), unreachableBefore) << "the stack should have reported it";

    const auto bytes = testsupport::ReadFileBytes(list.m_strLogFile);
    std::string log(bytes.begin(), bytes.end());
    std::string withoutStamps;
    for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
        withoutStamps += log.substr(log.find(", ", at), end + 2 - log.find(", ", at));
    EXPECT_EQ(withoutStamps, expectedLog);
}
