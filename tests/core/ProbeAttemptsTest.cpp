// Several attempts per entry: the attempts of all entries interleave, as fping's do, so a pass
// lasts about (N-1) intervals whatever the number of entries; and a cancel ends every attempt at
// once. Seen from the responder's side of a link of the test's own.
#include "CCheckRun.h"
#include "CItemList.h"
#include "ImpairedLink.h"
#include "InChild.h"
#include "ProbePass.h"
#include "SilentHostNamespace.h"
#include "SyscallFilter.h"
#include "UniqueFd.h"

#include <gtest/gtest.h>

#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testsupport::ImpairedLink;
using testsupport::SilentHostNamespace;
using Clock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

namespace {

constexpr int kEntries = 200;

std::string Host(int i) {
    return "10.219." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
}

// The echo requests leaving through a device, stamped by the kernel as they are sent: the
// responder reads them whenever it gets to run, which tells nothing of the sender's pace.
class SentEchoes {
public:
    struct Sent {
        in_addr_t destination;
        WallClock::time_point at;
    };

    // Call inside the device's namespace. Only ETH_P_ALL sockets see what a device sends.
    explicit SentEchoes(const char* device) : m_fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL))) {
        const int bytes = 16 << 20, on = 1;
        ::setsockopt(m_fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
        ::setsockopt(m_fd.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_ALL);
        at.sll_ifindex = static_cast<int>(::if_nametoindex(device));
        m_ok = at.sll_ifindex != 0 && ::bind(m_fd.Get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }
    bool IsOk() const { return m_ok; }

    // The requests sent since the last call, in the order they left.
    std::vector<Sent> Take() {
        std::vector<Sent> sent;
        unsigned char ip[128];
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(timespec))];
        for (sockaddr_ll from{};;) {
            iovec data{ip, sizeof ip};
            msghdr message{&from, sizeof from, &data, 1, control, sizeof control, 0};
            const ssize_t length = ::recvmsg(m_fd.Get(), &message, MSG_DONTWAIT);
            if (length < 0)
                return sent;
            const std::size_t icmp = (ip[0] & 0xfu) * 4; // the IPv4 header's length
            const cmsghdr* stamp = CMSG_FIRSTHDR(&message);
            if (from.sll_pkttype != PACKET_OUTGOING || ip[0] >> 4 != 4 || ip[9] != IPPROTO_ICMP || !stamp ||
                static_cast<std::size_t>(length) <= icmp || ip[icmp] != ICMP_ECHO)
                continue;
            timespec when;
            std::memcpy(&when, CMSG_DATA(stamp), sizeof when);
            Sent& echo = sent.emplace_back();
            std::memcpy(&echo.destination, ip + 16, sizeof echo.destination);
            echo.at = WallClock::time_point(std::chrono::duration_cast<WallClock::duration>(
                std::chrono::seconds(when.tv_sec) + std::chrono::nanoseconds(when.tv_nsec)));
        }
    }

private:
    UniqueFd m_fd;
    bool m_ok = false;
};

} // namespace

TEST(ProbeAttempts, AttemptsOfAllEntriesInterleaveAndACancelEndsThemAllAtOnce) {
    SilentHostNamespace ns;
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    ImpairedLink link(ns, "impair0", "10.219.0.0/16", [](in_addr_t, std::uint64_t) {
        return ImpairedLink::Verdict{false, 1ms};
    });
    ASSERT_TRUE(link.IsOk()) << "no TUN device here";
    SilentHostNamespace::Inside inside(ns);
    SentEchoes sent("impair0");
    ASSERT_TRUE(sent.IsOk());

    // Four echoes 150 ms apart to each of 200 hosts.
    std::vector<PassEntry> entries;
    for (int i = 0; i < kEntries; ++i)
        entries.push_back({0, Host(i), 0});
    ProbeSettings settings;
    settings.echoes = 4;
    settings.echoIntervalMs = 150;
    std::vector<ProbeOutcome> outcomes(entries.size());
    const auto started = Clock::now();
    ProbePass(
        entries, ProbePass::kDefaultMaxInFlight,
        [&](std::size_t index, const ProbeOutcome& outcome) { outcomes[index] = outcome; }, settings)
        .Run();
    const auto took = Clock::now() - started;
    EXPECT_GE(took, 450ms);
    EXPECT_LT(took, 450ms + 5s) << "not one entry after another";
    for (const ProbeOutcome& outcome : outcomes) {
        EXPECT_EQ(outcome.result, 1);
        EXPECT_EQ(outcome.stats.received, 4);
    }
    std::map<in_addr_t, std::vector<WallClock::time_point>> perHost;
    for (const SentEchoes::Sent& echo : sent.Take())
        perHost[echo.destination].push_back(echo.at);
    ASSERT_EQ(perHost.size(), entries.size());
    WallClock::time_point lastFirst{}, firstSecond = WallClock::time_point::max();
    for (const auto& [host, times] : perHost) {
        ASSERT_EQ(times.size(), 4u);
        for (std::size_t k = 1; k < times.size(); ++k)
            EXPECT_GE(times[k] - times[k - 1], 145ms) << "an entry's attempts keep their interval";
        lastFirst = std::max(lastFirst, times[0]);
        firstSecond = std::min(firstSecond, times[1]);
    }
    EXPECT_LT(lastFirst, firstSecond) << "every first echo goes out before any second one";

    // Five echoes a second apart, and a TCP connect that the silent host never answers: a cancel
    // during the second round ends all of them, and nothing more goes out.
    CItemList list;
    for (int i = 0; i < kEntries; ++i) {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = 0;
        item->m_strAddress = Host(i);
        item->m_bResult = 7;
        list.AddTail(std::move(item));
    }
    auto silent = std::make_unique<CItem>();
    silent->m_strAddress = SilentHostNamespace::kSilentAddress;
    silent->m_bResult = 7;
    list.AddTail(std::move(silent));
    settings.echoes = 5;
    settings.echoIntervalMs = 1000;
    const std::size_t before = link.Requests().size();
    CCheckRun run;
    run.SetProbeSettings(settings);
    int reported = 0;
    ASSERT_TRUE(run.Start(list, [&](std::size_t, const CItem&, int) { ++reported; }));
    const auto giveUp = Clock::now() + 20s;
    while (link.Requests().size() < before + kEntries + kEntries / 2 && Clock::now() < giveUp)
        std::this_thread::sleep_for(10ms);
    const auto cancelled = Clock::now();
    run.Cancel();
    run.Finish();
    EXPECT_LT(Clock::now() - cancelled, 2s) << "nothing waits for its interval or its limit";
    const auto finished = WallClock::now();
    std::this_thread::sleep_for(1500ms);
    const std::vector<SentEchoes::Sent> all = sent.Take();
    // The worker is not waited for, but looks for the stop before each request: the one it was
    // sending may still leave.
    EXPECT_LE(std::count_if(all.begin(), all.end(), [&](const SentEchoes::Sent& echo) { return echo.at > finished; }),
              1)
        << "no attempt goes out after the cancel";
    EXPECT_EQ(reported, 0) << "no entry had all its attempts";
    list.ForEach([](const CItem& item) { EXPECT_EQ(item.m_bResult, 7) << item.m_strAddress; });
}

// Without an epoll descriptor (the kernel out of memory) the pass probes one entry after the
// other, with the same attempts: the TCP limit holds, and each attempt starts an interval after
// the start of the one before, so three connects 1 s long and 2 s apart take 5 s, not 7.
TEST(ProbeAttempts, OneEntryAfterTheOtherKeepsTheTcpLimitAndTheInterval) {
    SilentHostNamespace ns;
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    SilentHostNamespace::Inside inside(ns);
    // The outcome comes back as the child's exit status: tenths of a second, or 250 when wrong.
    const int took = testsupport::InChild([] {
        if (!testsupport::FilterSyscalls({__NR_epoll_create1, __NR_epoll_create}, SECCOMP_RET_ERRNO | ENOMEM))
            return 251;
        ProbeSettings settings;
        settings.echoes = 3;
        settings.echoIntervalMs = 2000;
        settings.tcpTimeoutS = 1;
        ProbeOutcome outcome;
        const auto started = Clock::now();
        ProbePass(
            {{1, SilentHostNamespace::kSilentAddress, 80}}, ProbePass::kDefaultMaxInFlight,
            [&](std::size_t, const ProbeOutcome& ended) { outcome = ended; }, settings)
            .Run();
        if (outcome.failure != ProbeFailure::tcpTimeLimit || outcome.stats.sent != 3)
            return 250;
        return static_cast<int>(std::min<long long>((Clock::now() - started) / 100ms, 249));
    });
    ASSERT_NE(took, 251) << "no seccomp filter can be installed here";
    ASSERT_NE(took, 250) << "each connect ends at the limit";
    EXPECT_GE(took, 49);
    EXPECT_LT(took, 65) << "an interval from the start of the attempt before, not its end";
}
