// pulsewick-cli monitor: processor time while it waits between passes, resident memory with a
// 10,000-entry list, and the time one /metrics scrape of that list takes; then the same list of
// loopback ICMP entries with 5 echoes each, scraped all through its passes. Reports, asserts nothing.
// Every entry probes a closed port on 127.0.0.1 or a loopback address, so nothing leaves the machine.
// Usage: monitor_bench [PROGRAM]   (this build's pulsewick-cli by default),
//        monitor_bench echoes [ECHOES [PROGRAM]]   (5 echoes by default)
#include "MonitorProcess.h"

#include "LoopbackPorts.h"
#include "MonitorBenchSupport.h"
#include "TempDir.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testsupport::LoopbackPort;
using testsupport::MonitorProcess;

namespace {

using benchsupport::MakeList;
using benchsupport::StatusMiB;

void PrintMemory(const char* when, pid_t pid) {
    std::printf(
        "resident memory %s: %.1f MiB (private %.1f MiB, library and file pages %.1f MiB; peak so far %.1f MiB)\n",
        when, StatusMiB(pid, "VmRSS"), StatusMiB(pid, "RssAnon"), StatusMiB(pid, "RssFile"), StatusMiB(pid, "VmHWM"));
}

// Three passes of 10,000 ICMP entries x `echoes` echoes a second apart, a minute of the period
// shortened to 2 s; /metrics is scraped one after another all the while, and the resident memory sampled.
int EchoesUnderScrapes(const testsupport::TempDir& dir, const std::string& echoes, const std::string& program) {
    constexpr std::size_t kEntries = 10000;
    const std::string path = MakeList(dir, kEntries, 0);
    const auto listBytes = std::filesystem::file_size(path);
    MonitorProcess monitor(dir.path(), {path, "--metrics", "127.0.0.1:0", "--echoes", echoes},
                           {{"PULSEWICK_MINUTE_MS", "2000"}}, 0, program);
    const std::uint16_t port = monitor.MetricsPort(30s);
    if (port == 0) {
        std::fprintf(stderr, "no metrics:\n%s", monitor.Err().c_str());
        return 1;
    }
    // Scraped from the start, but the first pass's figures come before any large answer.
    const auto answered = testsupport::HttpRequest(port, "GET", "/metrics");
    if (!monitor.WaitFor("pass 1:", 120s)) {
        std::fprintf(stderr, "no first pass:\n%s", monitor.Err().c_str());
        return 1;
    }
    std::printf("after the first pass, before any scrape with the link's series: %.1f MiB (scrape during it: %s)\n",
                StatusMiB(monitor.Pid(), "VmRSS"), answered && answered->status == 200 ? "answered" : "failed");
    double maxRss = 0;
    int scrapes = 0, failed = 0;
    std::size_t bytes = 0;
    const auto giveUp = std::chrono::steady_clock::now() + 300s;
    while (!monitor.WaitFor("pass 3:", 0ms) && std::chrono::steady_clock::now() < giveUp) {
        const auto answer = testsupport::HttpRequest(port, "GET", "/metrics");
        ++scrapes;
        if (!answer || answer->status != 200)
            ++failed;
        else
            bytes = std::max(bytes, answer->body.size());
        maxRss = std::max(maxRss, StatusMiB(monitor.Pid(), "VmRSS"));
    }
    const double target = 2.0 * static_cast<double>(listBytes) / 1048576.0 + 24.0;
    std::printf("10,000 ICMP entries x %s echoes, passes 2 and 3: %d scrapes (%d failed, largest %zu bytes); "
                "resident memory sampled between scrapes at most %.1f MiB, peak (VmHWM) %.1f MiB; "
                "target 2 x list + 24 MiB = %.1f MiB\n",
                echoes.c_str(), scrapes, failed, bytes, maxRss, StatusMiB(monitor.Pid(), "VmHWM"), target);
    std::printf("%s", monitor.Err().c_str());
    monitor.Signal(SIGTERM);
    monitor.Wait(5s);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "echoes") {
        testsupport::TempDir dir;
        return EchoesUnderScrapes(dir, argc > 2 ? argv[2] : "5", argc > 3 ? argv[3] : PULSEWICK_CLI);
    }
    const std::string program = argc > 1 ? argv[1] : PULSEWICK_CLI;
    testsupport::TempDir dir;
    LoopbackPort closed(LoopbackPort::Kind::closed);

    {
        MonitorProcess monitor(dir.path(), {MakeList(dir, 1, closed.Port()), "--metrics", "127.0.0.1:0"}, {}, 0,
                               program);
        if (!monitor.WaitFor("pass 1:", 30s)) {
            std::fprintf(stderr, "no first pass:\n%s", monitor.Err().c_str());
            return 1;
        }
        const pid_t pid = monitor.Pid();
        std::this_thread::sleep_for(1s);
        PrintMemory("with 1 entry", pid);
        const double before = monitor.CpuSeconds();
        constexpr int kIdleSeconds = 30;
        std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
        const double used = monitor.CpuSeconds() - before;
        std::printf("idle between passes: %.3f s CPU in %d s = %.2f s per hour (clock tick %.3f s)\n", used,
                    kIdleSeconds, used * 3600.0 / kIdleSeconds, 1.0 / static_cast<double>(::sysconf(_SC_CLK_TCK)));
        monitor.Signal(SIGTERM);
        monitor.Wait(5s);
    }

    constexpr std::size_t kEntries = 10000;
    const std::string path = MakeList(dir, kEntries, closed.Port());
    const auto listBytes = std::filesystem::file_size(path);
    MonitorProcess monitor(dir.path(), {path, "--metrics", "127.0.0.1:0"}, {}, 0, program);
    const std::uint16_t port = monitor.MetricsPort(30s);
    const auto started = std::chrono::steady_clock::now();
    if (port == 0 || !monitor.WaitFor("pass 1:", 300s)) {
        std::fprintf(stderr, "no first pass:\n%s", monitor.Err().c_str());
        return 1;
    }
    std::printf("first pass over %zu entries: %.2f s\n", kEntries,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    PrintMemory("with 10,000 entries", monitor.Pid());
    std::printf("list file %.2f MiB; target 2 x list + 20 MiB = %.1f MiB\n", static_cast<double>(listBytes) / 1048576.0,
                2.0 * static_cast<double>(listBytes) / 1048576.0 + 20.0);

    std::vector<double> ms;
    std::size_t bytes = 0;
    for (int i = 0; i < 50; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        const auto answer = testsupport::HttpRequest(port, "GET", "/metrics");
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        if (!answer || answer->status != 200) {
            std::fprintf(stderr, "scrape %d failed\n", i);
            return 1;
        }
        bytes = answer->body.size();
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (const double m : ms)
        sum += m;
    std::printf("/metrics with %zu entries (%zu bytes): mean %.2f ms, median %.2f ms, max %.2f ms over %zu scrapes\n",
                kEntries, bytes, sum / static_cast<double>(ms.size()), ms[ms.size() / 2], ms.back(), ms.size());
    PrintMemory("right after the scrapes", monitor.Pid());
    std::this_thread::sleep_for(2s);
    PrintMemory("2 s later", monitor.Pid());
    monitor.Signal(SIGTERM);
    monitor.Wait(5s);
    return 0;
}
