#include "CItem.h"
#include "IcmpProbe.h"
#include "InChild.h"
#include "LoopbackPorts.h"
#include "PrivateNetwork.h"
#include "ProbeEntry.h"
#include "SilentHostNamespace.h"
#include "SyscallFilter.h"
#include "TcpProbe.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;
using testsupport::LoopbackPort;
using testsupport::SilentHostNamespace;
using testsupport::SnmpCounter;
using Clock = std::chrono::steady_clock;

namespace {

// Capabilities are per thread on Linux: drops CAP_NET_RAW from the calling thread only.
bool DropRawSocketPrivilege() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
    data[CAP_TO_INDEX(CAP_NET_RAW)].permitted &= ~CAP_TO_MASK(CAP_NET_RAW);
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Leaves a TIME-WAIT socket on a port of the ephemeral range towards peer, as any program that
// connects and closes first does: that side keeps the port for a minute.
bool LeaveTimeWait(const LoopbackPort& peer) {
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    remote.sin_port = htons(peer.Port());
    const bool connected = client >= 0 && ::connect(client, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    const int server = connected ? peer.Accept(2000) : -1;
    if (client >= 0)
        ::close(client);
    const bool closed = server >= 0 && testsupport::ReadUntilClosed(server, 2000) == 0;
    if (server >= 0)
        ::close(server);
    return connected && closed;
}

bool PingSocketsAllowedHere() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

} // namespace

TEST(TcpProbe, ListenerAnswersAndSeesACloseWithoutData) {
    LoopbackPort port(LoopbackPort::Kind::listening);
    CItem item = ProbeEntry(1, "127.0.0.1", port.Port());
    EXPECT_EQ(item.Check(), 1);
    EXPECT_EQ(item.m_bResult, 1);
    EXPECT_GE(item.m_nLastRoundTripUs, 0);

    const int peer = port.Accept(2000);
    ASSERT_GE(peer, 0);
    EXPECT_EQ(testsupport::ReadUntilClosed(peer, 2000), 0) << "closed at once, nothing sent";
    ::close(peer);
}

TEST(TcpProbe, HostNameIsResolved) {
    LoopbackPort port(LoopbackPort::Kind::listening);
    CItem item = ProbeEntry(1, "localhost", port.Port());
    EXPECT_EQ(item.Check(), 1);
}

TEST(TcpProbe, RefusedOrImpossibleConnectionsFailAtOnce) {
    LoopbackPort closed(LoopbackPort::Kind::closed);
    for (const auto& [address, portNumber] : std::vector<std::pair<std::string, std::int32_t>>{
             {"127.0.0.1", closed.Port()},
             {"127.0.0.1", 65536 + closed.Port()}, // not the 16-bit port it would truncate to
             {"127.0.0.1", -1},
             {"", 80},
         }) {
        SCOPED_TRACE(address + ":" + std::to_string(portNumber));
        CItem item = ProbeEntry(1, address, portNumber);
        item.m_nLastRoundTripUs = 5;
        const auto start = Clock::now();
        EXPECT_EQ(item.Check(), 0);
        EXPECT_LT(Clock::now() - start, 2s);
        EXPECT_EQ(item.m_bResult, 0);
        EXPECT_EQ(item.m_nLastRoundTripUs, -1);
    }
}

TEST(Probes, SendingRefusedByTheSystemIsBlockedNotAMissingIcmpPrivilege) {
    LoopbackPort listening(LoopbackPort::Kind::listening);
    const bool icmpHere = static_cast<bool>(IcmpSocket::Open(AF_INET));
    for (const int error : {EPERM, EACCES}) {
        for (const std::int32_t connect : {1, 0}) {
            if (!connect && !icmpHere)
                continue; // without an ICMP socket nothing is ever sent
            SCOPED_TRACE(std::string(connect ? "tcp, " : "icmp, ") + std::strerror(error));
            // The reason comes back as the exit code of a child, where the filter stays.
            const int failure = testsupport::InChild([&] {
                // As a packet filter (EPERM) or a security module (EACCES) refuses what is sent.
                if (!testsupport::FilterSyscalls({__NR_connect, __NR_sendto},
                                                 SECCOMP_RET_ERRNO | static_cast<std::uint32_t>(error)))
                    return 100;
                return static_cast<int>(ProbeConnection(connect, "127.0.0.1", listening.Port()).failure);
            });
            ASSERT_NE(failure, 100) << "no seccomp filter can be installed here";
            EXPECT_STREQ(ProbeFailureText(static_cast<ProbeFailure>(failure)),
                         "blocked by a firewall or security policy");
        }
    }
}

TEST(TcpProbe, AnswersWhileEveryLocalPortIsHeldInTimeWait) {
    // A namespace of our own with a narrow port range stands for a busy machine whose whole
    // range is held by TIME-WAIT sockets, without taking the ports of anything else.
    testsupport::ScopedPrivateNetwork network;
    if (!network.IsActive())
        GTEST_SKIP() << "no network namespace can be made here";
    LoopbackPort elsewhere(LoopbackPort::Kind::listening);
    LoopbackPort probed(LoopbackPort::Kind::listening);
    // 64 ports that neither listener took: one of them inside would leave only 63 to fill.
    constexpr std::uint16_t kPorts = 64;
    std::uint16_t first = 50000;
    const auto holds = [&first](const LoopbackPort& listener) {
        return listener.Port() >= first && listener.Port() < first + kPorts;
    };
    while (holds(elsewhere) || holds(probed))
        first += kPorts;
    std::ofstream("/proc/sys/net/ipv4/ip_local_port_range") << first << ' ' << first + kPorts - 1 << std::flush;
    for (int port = 0; port < kPorts; ++port)
        ASSERT_TRUE(LeaveTimeWait(elsewhere)) << first + port;

    const int bound = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    const bool bindFailed = ::bind(bound, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 && errno == EADDRINUSE;
    ::close(bound);
    ASSERT_TRUE(bindFailed) << "the range should be full for a port bound on its own";

    CItem item = ProbeEntry(1, "127.0.0.1", probed.Port());
    EXPECT_EQ(item.Check(), 1);
    const int peer = probed.Accept(2000);
    EXPECT_GE(peer, 0);
    if (peer >= 0)
        ::close(peer);
}

TEST(IcmpProbe, LoopbackAnswers) {
    CItem item = ProbeEntry(0, "127.0.0.1", 12345);
    const int result = item.Check();
    if (IsIcmpPrivilegeMissing())
        GTEST_SKIP() << "no privilege for ICMP sockets here";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(item.m_bResult, 1);
    EXPECT_GE(item.m_nLastRoundTripUs, 0);
    EXPECT_LT(item.m_nLastRoundTripUs, 10'000'000);
}

TEST(IcmpProbe, WithoutPrivilegeTheResultIsZeroAndTheCallerCanTell) {
    if (PingSocketsAllowedHere())
        GTEST_SKIP() << "ping sockets are open to everyone here";
    int result = -1;
    bool dropped = false;
    std::thread([&] {
        dropped = DropRawSocketPrivilege();
        if (dropped) {
            CItem item = ProbeEntry(0, "127.0.0.1");
            result = item.Check();
        }
    }).join();
    if (!dropped)
        GTEST_SKIP() << "cannot change capabilities";
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(IsIcmpPrivilegeMissing());
    EXPECT_NE(std::string(kIcmpPrivilegeHelp).find("cap_net_raw"), std::string::npos);
}

// Inside a namespace of our own no lookup and no probe can leave the machine, so the name
// lookup of an unresolvable name is safe to try and the counters show what was sent.
TEST(Probes, UnresolvableNameGivesZeroWithNothingSent) {
    SilentHostNamespace ns;
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    SilentHostNamespace::Inside inside(ns);
    const long long echoesBefore = SnmpCounter("Icmp", "OutEchos");
    const long long opensBefore = SnmpCounter("Tcp", "ActiveOpens");
    for (const std::int32_t connect : {0, 1}) {
        CItem item = ProbeEntry(connect, "pulsewick-probe.invalid", 80);
        const auto start = Clock::now();
        EXPECT_EQ(item.Check(), 0);
        EXPECT_EQ(item.m_bResult, 0);
        EXPECT_LT(Clock::now() - start, 5s);
    }
    EXPECT_EQ(SnmpCounter("Icmp", "OutEchos"), echoesBefore);
    EXPECT_EQ(SnmpCounter("Tcp", "ActiveOpens"), opensBefore);
}

TEST(IcmpProbe, PingSocketIsPreferredAndAnswered) {
    SilentHostNamespace ns(/*pingSockets=*/true);
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    SilentHostNamespace::Inside inside(ns);
    EXPECT_EQ(IcmpSocket::Open().GetKind(), IcmpSocket::Kind::datagram);
    const long long echoesBefore = SnmpCounter("Icmp", "OutEchos");
    CItem item = ProbeEntry(0, "127.0.0.1");
    EXPECT_EQ(item.Check(), 1);
    EXPECT_EQ(SnmpCounter("Icmp", "OutEchos"), echoesBefore + 1) << "exactly one request";
}

TEST(IcmpProbe, RawSocketIsTheFallback) {
    SilentHostNamespace ns;
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    SilentHostNamespace::Inside inside(ns);
    if (PingSocketsAllowedHere())
        GTEST_SKIP() << "ping sockets are allowed";
    EXPECT_EQ(IcmpSocket::Open().GetKind(), IcmpSocket::Kind::raw);
    CItem item = ProbeEntry(0, "127.0.0.1");
    EXPECT_EQ(item.Check(), 1);
}
