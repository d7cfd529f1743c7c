// pulsewick-cli check beside fping on the same hosts, in network namespaces of the benchmark's
// own (needs root; nothing leaves the machine). Usage: icmp_peer_bench CLI [SECTION...]
// Sections (default all):
//   silent    10,000 silent hosts under a soft limit of 1024 descriptors
//   rtt       10,000 hosts 20 ms away (a tun responder), raw sockets against ping sockets
//   names     200 names whose name server never answers, against one resolver time-out
//   one       one loopback ICMP entry, process start included, against fping -c1
//   loopback  10,000 loopback ICMP entries against fping and a bare sequential loop
//   accuracy  one host 20 ms +- 5 ms away losing 30 %, 100 echoes at 20 ms, against the responder's
//             own counts and fping -C 100 -p 20
//   loopback5 10,000 loopback hosts x 5 echoes at 100 ms against fping -C 5 -p 100: pass and CPU time
//   silent5   10,000 silent hosts x 5 echoes at 100 ms, soft limit 1024, against fping -C 5 -p 100
// fping runs as root with -i 0, so that its own 10 ms gap between any two packets does not count;
// a run without fping installs it (Debian's package).
#include "CItemList.h"
#include "ImpairedLink.h"
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
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::ImpairedLink;
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

// Wall time and processor time (user and system, with its children) of a command.
struct Cost {
    double seconds = 0;
    double cpu = 0;
};

Cost Measured(const std::string& command) {
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return {std::chrono::duration<double>(Clock::now() - start).count(),
            seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// The median run of a few, by wall time.
Cost MedianCost(const std::string& command, int runs) {
    std::vector<Cost> costs;
    for (int i = 0; i < runs; ++i)
        costs.push_back(Measured(command));
    std::sort(costs.begin(), costs.end(), [](const Cost& a, const Cost& b) { return a.seconds < b.seconds; });
    return costs[costs.size() / 2];
}

// Routes network in ns to a responder answering every echo `delay` later.
std::unique_ptr<ImpairedLink> Responder(const SilentHostNamespace& ns, const std::string& network,
                                        std::chrono::milliseconds delay) {
    return std::make_unique<ImpairedLink>(ns, "rtt0", network, [delay](in_addr_t, std::uint64_t) {
        return ImpairedLink::Verdict{false, delay};
    });
}

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
    const auto responder = Responder(ns, "10.218.0.0/16", kResponderDelay);
    if (!responder->IsOk()) {
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

std::string CheckWith(const testsupport::TempDir& dir, const std::string& name, const std::string& options,
                      const std::string& out = "/dev/null") {
    return g_cli + " check " + dir.file(name + ".pwk").string() + " " + options + " >" + out + " 2>/dev/null";
}

std::string FpingCount(const testsupport::TempDir& dir, const std::string& name, int count, int periodMs,
                       int timeoutMs) {
    return "fping -q -i0 -C" + std::to_string(count) + " -p" + std::to_string(periodMs) + " -t" +
           std::to_string(timeoutMs) + " -f " + dir.file(name + ".txt").string() + " >/dev/null 2>&1";
}

double MedianOf(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The value of "key" in JSON text, as a number (-1 when missing or null).
double JsonNumber(const std::string& text, const std::string& key) {
    const std::size_t at = text.find("\"" + key + "\": ");
    if (at == std::string::npos || text.compare(at + key.size() + 4, 4, "null") == 0)
        return -1;
    return std::atof(text.c_str() + at + key.size() + 4);
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// One host 20 ms +- 5 ms away that drops 30 % of the echoes, at random: what each prober measured
// against what the responder itself dropped and delayed during that prober's run.
void Accuracy(const SilentHostNamespace& ns, const testsupport::TempDir& dir, const std::string& in) {
    std::mutex mutex;
    std::mt19937 random(2024);
    ImpairedLink link(ns, "acc0", "10.217.0.0/16", [&](in_addr_t, std::uint64_t) {
        std::lock_guard<std::mutex> lock(mutex);
        if (std::uniform_real_distribution<>(0, 1)(random) < 0.3)
            return ImpairedLink::Verdict{true};
        return ImpairedLink::Verdict{false,
                                     std::chrono::microseconds(std::uniform_int_distribution<>(15000, 25000)(random))};
    });
    if (!link.IsOk()) {
        std::printf("accuracy: no tun responder here\n");
        return;
    }
    WriteHosts(dir, "accuracy", {"10.217.0.1"});
    struct Run {
        const char* who;
        std::string command;
        double lossRatio = -1, medianMs = -1;
    };
    const auto out = dir.file("accuracy.out").string();
    Run runs[] = {{"pulsewick", in + CheckWith(dir, "accuracy", "--json --echoes 100 --echo-interval 20", out)},
                  {"fping -C 100 -p 20", in + "fping -q -i0 -C100 -p20 -t1000 10.217.0.1 2>" + out}};
    for (Run& run : runs) {
        const std::size_t delaysBefore = link.Delays().size();
        const std::uint64_t droppedBefore = link.Dropped();
        [[maybe_unused]] const int status = std::system(run.command.c_str());
        const std::string text = ReadAll(out);
        if (run.command.find("fping") != std::string::npos) {
            std::vector<double> answers;
            int sent = 0;
            std::istringstream words(text.substr(text.find(':') + 1));
            for (std::string word; words >> word; ++sent)
                if (word != "-")
                    answers.push_back(std::atof(word.c_str()));
            run.lossRatio = sent ? 1.0 - static_cast<double>(answers.size()) / sent : -1;
            run.medianMs = MedianOf(answers);
        } else {
            run.lossRatio = JsonNumber(text, "lossRatio");
            run.medianMs = JsonNumber(text, "roundTripMs");
        }
        const auto delays = link.Delays();
        std::vector<double> applied;
        for (std::size_t i = delaysBefore; i < delays.size(); ++i)
            applied.push_back(std::chrono::duration<double, std::milli>(delays[i]).count());
        const auto dropped = link.Dropped() - droppedBefore;
        const double appliedMedian = MedianOf(applied);
        std::printf("accuracy, %-20s loss %.2f (responder dropped %llu of 100: %.2f)   median %.3f ms "
                    "(responder applied %.3f ms: off by %.3f ms)   (target: loss exact, off <= 0.5 ms and <= fping)\n",
                    run.who, run.lossRatio, static_cast<unsigned long long>(dropped), dropped / 100.0, run.medianMs,
                    appliedMedian, std::abs(run.medianMs - appliedMedian));
        std::fflush(stdout);
    }
}

void CostRow(const char* what, const Cost& ours, const Cost& theirs, const char* target) {
    std::printf("%-52s pulsewick %8.3f s (CPU %.3f s)   fping %8.3f s (CPU %.3f s)   ratio %.2f, CPU %.2f   "
                "(target %s)\n",
                what, ours.seconds, ours.cpu, theirs.seconds, theirs.cpu,
                theirs.seconds > 0 ? ours.seconds / theirs.seconds : 0, theirs.cpu > 0 ? ours.cpu / theirs.cpu : 0,
                target);
    std::fflush(stdout);
}

void LoopbackFive(const testsupport::TempDir& dir) {
    std::vector<std::string> hosts;
    for (int i = 0; i < kHosts; ++i)
        hosts.push_back(Host("127.0.", i));
    WriteHosts(dir, "loopback5", hosts);
    CostRow("10,000 loopback hosts x 5 echoes at 100 ms",
            MedianCost(CheckWith(dir, "loopback5", "--echoes 5 --echo-interval 100"), 5),
            MedianCost(FpingCount(dir, "loopback5", 5, 100, 1000), 5), "pass <= 1.0, CPU <= 1.0");
}

void SilentFive(const SilentHostNamespace& ns, const testsupport::TempDir& dir, const std::string& in) {
    ns.RouteToSilence("10.216.0.0", 16);
    std::vector<std::string> hosts;
    for (int i = 0; i < kHosts; ++i)
        hosts.push_back(Host("10.216.", i));
    WriteHosts(dir, "silent5", hosts);
    const std::string limit = "prlimit --nofile=1024:1024 ";
    CostRow("10,000 silent hosts x 5 echoes at 100 ms, limit 1024",
            Measured(in + limit + CheckWith(dir, "silent5", "--echoes 5 --echo-interval 100")),
            Measured(in + limit + FpingCount(dir, "silent5", 5, 100, 10000)), "pass <= 1.05");
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
    if (std::system("command -v fping >/dev/null") != 0 &&
        std::system(
            "apt-get install -y -qq fping >/dev/null 2>&1 || (apt-get update -qq && apt-get install -y -qq fping)") !=
            0)
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
    if (wanted("accuracy"))
        Accuracy(ns, dir, in);
    if (wanted("loopback5"))
        LoopbackFive(dir);
    if (wanted("silent5"))
        SilentFive(ns, dir, in);
    if (wanted("names")) {
        SilentHostNamespace::Inside inside(ns);
        Names(dir, in);
    }
    return 0;
}
