// Per-probe cost of a check run against a bare loop of the same socket calls.
// Usage: check_run_bench [ENTRIES] [IN_FLIGHT]   (default 10000 and the run's default; loopback only)
//
// Every closed probe connection leaves a TIME_WAIT socket that holds its local port for a
// minute, and tens of thousands of them make the kernel's search for a free port the main
// cost. As root each measurement therefore runs in a fresh network namespace of its own, with
// the whole port range, so both loops start from the same clean state.
#include "CCheckRun.h"
#include "CItemList.h"
#include "IcmpProbe.h"
#include "LoopbackPorts.h"
#include "SilentHostNamespace.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>

#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int g_inFlight = 0; // 0: the run's default

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The TCP probe's system calls, without the run around them.
int BareTcp(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    remote.sin_port = htons(port);
    int ok = ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        ::poll(&wait, 1, -1);
        int error = 0;
        socklen_t length = sizeof error;
        ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    ::close(fd);
    return ok;
}

// The ICMP probe's system calls, without the run around them.
int BareIcmp(std::uint16_t sequence, const std::string& address) {
    IcmpSocket sock = IcmpSocket::Open();
    if (!sock)
        return 0;
    unsigned char request[sizeof(icmphdr) + 10] = {};
    icmphdr header{};
    header.type = ICMP_ECHO;
    header.un.echo.id = htons(0x5057);
    header.un.echo.sequence = htons(sequence);
    std::memcpy(request, &header, sizeof header);
    std::memcpy(request + sizeof header, "Hi there!", 10);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < sizeof request; i += 2)
        sum += static_cast<std::uint32_t>(request[i] << 8 | request[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    header.checksum = htons(static_cast<std::uint16_t>(~sum));
    std::memcpy(request, &header, sizeof header);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = ::inet_addr(address.c_str());
    if (::sendto(sock.Get(), request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        return 0;
    for (;;) {
        pollfd wait{sock.Get(), POLLIN, 0};
        if (::poll(&wait, 1, 10000) <= 0)
            return 0;
        unsigned char buffer[100];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got =
            ::recvfrom(sock.Get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (got <= 0)
            continue;
        const std::size_t offset = sock.GetKind() == IcmpSocket::Kind::raw ? (buffer[0] & 0x0f) * 4u : 0u;
        if (static_cast<std::size_t>(got) >= offset + sizeof(icmphdr) && buffer[offset] == ICMP_ECHOREPLY)
            return 1;
    }
}

void Report(const char* what, int entries, double bareSeconds, int bareOk, double runSeconds, int runResult,
            int runOk) {
    std::printf("%s: %d entries\n", what, entries);
    std::printf("  bare loop : %8.2f us/probe  (%d answered)\n", bareSeconds * 1e6 / entries, bareOk);
    std::printf("  check run : %8.2f us/probe  (%d answered, run result %d)\n", runSeconds * 1e6 / entries, runOk,
                runResult);
    std::printf("  ratio     : %8.2fx  (target <= 1.0x)\n", runSeconds / bareSeconds);
}

// A fresh namespace for one measurement, when this process may make one.
struct CleanNetwork {
    CleanNetwork() {
        if (!ns.IsAvailable())
            return;
        std::system(
            ("ip netns exec " + ns.Name() + " sysctl -q -w net.ipv4.ip_local_port_range='1024 65535' >/dev/null 2>&1")
                .c_str());
        inside.emplace(ns);
    }
    testsupport::SilentHostNamespace ns;
    std::optional<testsupport::SilentHostNamespace::Inside> inside;
};

// The address of entry i: every entry on 127.0.0.1, or each on a loopback address of its own, as the
// hosts of a real list are.
std::string EntryAddress(int i, bool spread) {
    if (!spread)
        return "127.0.0.1";
    return "127." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250 + 1) + ".1";
}

void Bench(const char* what, int entries, std::int32_t connect, bool spread = false) {
    int bareOk = 0;
    double bare = 0;
    {
        CleanNetwork network;
        testsupport::LoopbackAcceptor acceptor;
        const auto bareStart = Clock::now();
        for (int i = 0; i < entries; ++i)
            bareOk +=
                connect ? BareTcp(acceptor.Port()) : BareIcmp(static_cast<std::uint16_t>(i), EntryAddress(i, spread));
        bare = Seconds(Clock::now() - bareStart);
    }
    CleanNetwork network;
    testsupport::LoopbackAcceptor acceptor;
    const std::uint16_t port = acceptor.Port();

    CItemList list;
    list.Reserve(static_cast<std::size_t>(entries));
    for (int i = 0; i < entries; ++i) {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = connect;
        item->m_strAddress = EntryAddress(i, spread);
        item->m_nPort = port;
        list.AddTail(std::move(item));
    }
    int runOk = 0;
    CCheckRun run;
    if (g_inFlight > 0)
        run.SetMaxInFlight(static_cast<std::size_t>(g_inFlight));
    const auto runStart = Clock::now();
    const int result = run.RunBlocking(list, [&](std::size_t, const CItem&, int answered) { runOk += answered; });
    const double runTime = Seconds(Clock::now() - runStart);
    Report(what, entries, bare, bareOk, runTime, result, runOk);
}

} // namespace

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 10000;
    g_inFlight = argc > 2 ? std::atoi(argv[2]) : 0;
    Bench("TCP connect to a local listener", entries, 1);
    Bench("ICMP echo to 127.0.0.1", entries, 0);
    Bench("ICMP echo to distinct loopback addresses", entries, 0, true);
    if (IsIcmpPrivilegeMissing())
        std::printf("(no ICMP privilege here: the ICMP figures measure failures)\n");
    return 0;
}
