// pulsewick-cli check beside fping on the same hosts, in network namespaces of the benchmark's
// own (needs root; nothing leaves the machine). Usage: icmp_peer_bench CLI [SECTION...]
// Sections (default all):
//   silent    10,000 silent hosts under a soft limit of 1024 descriptors
//   rtt       10,000 hosts 20 ms away (a tun responder), raw sockets against ping sockets
//   names     200 names whose name server never answers, against one resolver time-out
//   one       one loopback ICMP entry, process start included, against fping -c1
//   loopback  10,000 loopback ICMP entries against fping and a bare sequential loop
#include "CItemList.h"
#include "ListFile.h"
#include "SilentHostNamespace.h"
#include "TempDir.h"
#include "UniqueFd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::SilentHostNamespace;

constexpr int kHosts = 10000;
constexpr int kNames = 200;
constexpr auto kResponderDelay = std::chrono::milliseconds(20);
constexpr const char* kNameServer = "127.0.0.77";

std::string g_cli;

std::string Host(const char* prefix, int i) {
    return std::string(prefix) + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
}

// Writes the list (ICMP entries) and the same hosts one a line for fping.
void WriteHosts(const testsupport::TempDir& dir, const std::string& name, const std::vector<std::string>& hosts) {
    CItemList list;
    std::ofstream text(dir.file(name + ".txt"));
    for (const auto& host : hosts) {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = 0;
        item->m_strAddress = host;
        list.AddTail(std::move(item));
        text << host << "\n";
    }
    SaveListFile(list, dir.file(name + ".pwk").string());
}

double Timed(const std::string& command) {
    const auto start = Clock::now();
    [[maybe_unused]] const int status = std::system(command.c_str());
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(const std::string& command, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(Timed(command));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Row(const char* what, double ours, double theirs, const char* target) {
    std::printf("%-52s pulsewick %8.3f s   peer %8.3f s   ratio %.2f   (target %s)\n", what, ours, theirs,
                theirs > 0 ? ours / theirs : 0.0, target);
    std::fflush(stdout);
}

std::string Check(const testsupport::TempDir& dir, const std::string& name) {
    return g_cli + " check " + dir.file(name + ".pwk").string() + " >/dev/null 2>&1";
}

std::string Fping(const testsupport::TempDir& dir, const std::string& name, int timeoutMs) {
    return "fping -q -r0 -i0 -t" + std::to_string(timeoutMs) + " -f " + dir.file(name + ".txt").string() +
           " >/dev/null 2>&1";
}

// Answers every ICMP echo request that reaches the tun device, kResponderDelay later.
class DelayedResponder {
public:
    explicit DelayedResponder(const SilentHostNamespace& ns) {
        SilentHostNamespace::Inside inside(ns);
        m_tun.Reset(::open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK));
        ifreq request{};
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        std::strncpy(request.ifr_name, "rtt0", IFNAMSIZ - 1);
        m_ok = m_tun && ::ioctl(m_tun.Get(), TUNSETIFF, &request) == 0;
        m_thread = std::thread([this] { Serve(); });
    }
    ~DelayedResponder() {
        m_stop = true;
        m_thread.join();
    }
    bool IsOk() const { return m_ok; }

private:
    struct Pending {
        Clock::time_point due;
        std::vector<unsigned char> packet;
    };

    void Serve() {
        std::deque<Pending> queue;
        while (!m_stop) {
            int timeout = 50;
            if (!queue.empty())
                timeout = static_cast<int>(std::clamp<long long>(
                    std::chrono::ceil<std::chrono::milliseconds>(queue.front().due - Clock::now()).count(), 0, 50));
            pollfd wait{m_tun.Get(), POLLIN, 0};
            ::poll(&wait, 1, timeout);
            unsigned char buffer[2048];
            for (ssize_t got; (got = ::read(m_tun.Get(), buffer, sizeof buffer)) > 0;) {
                if (got < 28 || (buffer[0] >> 4) != 4 || buffer[9] != IPPROTO_ICMP)
                    continue;
                const std::size_t header = std::size_t{static_cast<unsigned char>(buffer[0] & 0x0f)} * 4;
                if (buffer[header] != 8)
                    continue;
                std::vector<unsigned char> reply(buffer, buffer + got);
                std::swap_ranges(reply.begin() + 12, reply.begin() + 16, reply.begin() + 16);
                reply[header] = 0; // echo reply: the checksum grows by what the type lost
                std::uint32_t sum = static_cast<std::uint32_t>(reply[header + 2] << 8 | reply[header + 3]) + 0x0800;
                sum = (sum & 0xffff) + (sum >> 16);
                reply[header + 2] = static_cast<unsigned char>(sum >> 8);
                reply[header + 3] = static_cast<unsigned char>(sum);
                queue.push_back({Clock::now() + kResponderDelay, std::move(reply)});
            }
            while (!queue.empty() && queue.front().due <= Clock::now()) {
                [[maybe_unused]] const ssize_t written =
                    ::write(m_tun.Get(), queue.front().packet.data(), queue.front().packet.size());
                queue.pop_front();
            }
        }
    }

    UniqueFd m_tun;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void Silent(const SilentHostNamespace& ns, const testsupport::TempDir& dir, const std::string& in) {
    ns.RouteToSilence("10.214.0.0", 16);
    std::vector<std::string> hosts;
    for (int i = 0; i < kHosts; ++i)
        hosts.push_back(Host("10.214.", i));
    WriteHosts(dir, "silent", hosts);
    const std::string limit = "prlimit --nofile=1024:1024 ";
    Row("10,000 silent ICMP hosts, soft limit 1024", Timed(in + limit + Check(dir, "silent")),
        Timed(in + limit + Fping(dir, "silent", 10000)), "<= 10.5 s");
}

void RoundTrip(const SilentHostNamespace& ns, const testsupport::TempDir& dir, const std::string& in) {
    DelayedResponder responder(ns);
    const std::string ip = "ip -n " + ns.Name() + " ";
    if (!responder.IsOk() || std::system((ip + "link set rtt0 up txqueuelen 100000").c_str()) != 0 ||
        std::system((ip + "route add 10.218.0.0/16 dev rtt0").c_str()) != 0) {
        std::printf("rtt: no tun responder here\n");
        return;
    }
    std::vector<std::string> hosts;
    for (int i = 0; i < kHosts; ++i)
        hosts.push_back(Host("10.218.", i));
    WriteHosts(dir, "rtt", hosts);
    const std::string pingRange = in + "sysctl -q -w net.ipv4.ping_group_range=";
    [[maybe_unused]] int status = std::system((pingRange + "'1 0'").c_str());
    const double raw = Median(in + Check(dir, "rtt"), 5);
    status = std::system((pingRange + "'0 2147483647'").c_str());
    const double ping = Median(in + Check(dir, "rtt"), 5);
    status = std::system((pingRange + "'1 0'").c_str());
    Row("10,000 hosts at 20 ms, raw sockets vs ping sockets", raw, ping, "ratio <= 1.1");
    std::printf("  answered in a raw-socket pass: ");
    std::fflush(stdout);
    status = std::system((in + g_cli + " check " + dir.file("rtt.pwk").string() + " | grep -c ' Yes '").c_str());
    Row("10,000 hosts at 20 ms, raw sockets vs fping", raw, Median(in + Fping(dir, "rtt", 1000), 5), "-");
}

void Names(const testsupport::TempDir& dir, const std::string& in) {
    // The name server is a UDP socket that nobody reads; the resolver keeps its own settings.
    UniqueFd server(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in at{AF_INET, htons(53), {::inet_addr(kNameServer)}, {}};
    if (::bind(server.Get(), reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        std::printf("names: cannot bind the silent name server\n");
        return;
    }
    std::ofstream(dir.file("resolv.conf")) << "nameserver " << kNameServer << "\n";
    std::vector<std::string> names;
    for (int i = 0; i < kNames; ++i)
        names.push_back("pulsewick-bench-" + std::to_string(i) + ".example");
    WriteHosts(dir, "names", names);
    const std::string withConf = in + "unshare -m sh -c 'mount --bind " + dir.file("resolv.conf").string() +
                                 " /etc/resolv.conf && exec \"$@\"' sh ";
    const double one = Timed(withConf + "getent ahosts pulsewick-bench-one.example >/dev/null");
    Row("200 names, silent name server, vs one resolver time-out", Timed(withConf + Check(dir, "names")), one,
        "ratio <= 1.2");
}

void One(const testsupport::TempDir& dir) {
    WriteHosts(dir, "one", {"127.0.0.1"});
    Row("check of one loopback ICMP entry vs fping -c1", Median(Check(dir, "one"), 101),
        Median("fping -q -c1 127.0.0.1 >/dev/null 2>&1", 101), "ratio <= 1.5");
}

void Loopback(const testsupport::TempDir& dir) {
    std::vector<std::string> hosts;
    for (int i = 0; i < kHosts; ++i)
        hosts.push_back(Host("127.0.", i));
    WriteHosts(dir, "loopback", hosts);
    const double ours = Median(Check(dir, "loopback"), 9);
    Row("10,000 loopback ICMP entries vs fping", ours, Median(Fping(dir, "loopback", 1000), 9), "ratio <= 1.0");
    Row("10,000 loopback ICMP entries vs a bare sequential loop", ours,
        Median(std::string(BARE_ECHO_LOOP " ") + dir.file("loopback.txt").string() + " >/dev/null 2>&1", 9),
        "ratio <= 1.0");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: icmp_peer_bench PULSEWICK_CLI [SECTION...]\n");
        return 2;
    }
    g_cli = argv[1];
    SilentHostNamespace ns;
    if (!ns.IsAvailable()) {
        std::printf("skipped: %s\n", ns.Reason().c_str());
        return 0;
    }
    if (std::system("command -v fping >/dev/null") != 0)
        std::printf("(fping is not installed: its column reads 0)\n");
    testsupport::TempDir dir;
    const std::string in = "ip netns exec " + ns.Name() + " ";
    const std::vector<std::string> sections(argv + 2, argv + argc);
    const auto wanted = [&](const char* name) {
        return sections.empty() || std::find(sections.begin(), sections.end(), name) != sections.end();
    };
    if (wanted("one"))
        One(dir);
    if (wanted("loopback"))
        Loopback(dir);
    if (wanted("silent"))
        Silent(ns, dir, in);
    if (wanted("rtt"))
        RoundTrip(ns, dir, in);
    if (wanted("names")) {
        SilentHostNamespace::Inside inside(ns);
        Names(dir, in);
    }
    return 0;
}
