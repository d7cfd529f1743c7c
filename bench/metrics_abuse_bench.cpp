// pulsewick-cli monitor's metrics endpoint against two kinds of hostile clients, measured from
// outside the monitor. Reports, asserts nothing.
//  - Slow senders: 200 connections each send the start of a request head at once, then one byte
//    more of it every 20 ms, never ending it; the monitor's processor time over 8 s when that start
//    is 100 bytes, 12 KB of 100-byte lines, or 12 KB of one line. What each byte costs should not
//    grow with what came before it.
//  - Non-readers: 250 connections ask for /metrics of a 10,000-entry list and never read; what
//    they add to the monitor's resident memory, when they come all at once between passes, and
//    when they come one by one while passes run back to back, each with a text of its own.
// Usage: metrics_abuse_bench [slow|silent|both [PROGRAM]]   (both, and this build's pulsewick-cli, by default)
#include "MonitorProcess.h"

#include "LoopbackPorts.h"
#include "MonitorBenchSupport.h"
#include "TempDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using benchsupport::StatusMiB;
using testsupport::LoopbackPort;
using testsupport::MonitorProcess;

namespace {

constexpr int kSlowSenders = 200;
constexpr auto kByteInterval = 20ms;
constexpr auto kSlowRun = 8s;
constexpr int kSilentReaders = 250;
constexpr std::size_t kEntries = 10000;

// The start of a request head of about `size` bytes, in header lines of at most `lineLength` bytes,
// ending inside its last line.
std::string HeadStart(std::size_t size, std::size_t lineLength) {
    std::string head = "GET /slow HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int n = 0; head.size() < size; ++n) {
        if (n > 0)
            head += "\r\n";
        head += "X-Filler-" + std::to_string(n) + ": ";
        head += std::string(std::min(lineLength, size - std::min(size, head.size() + 2)) + 1, 'a');
    }
    return head;
}

// The monitor's processor seconds while kSlowSenders send `start`, then a byte every kByteInterval.
double SlowSendersCost(MonitorProcess& monitor, std::uint16_t port, const std::string& start, long& lost) {
    std::vector<int> senders;
    for (int i = 0; i < kSlowSenders; ++i)
        senders.push_back(benchsupport::ConnectLoopback(port));
    std::this_thread::sleep_for(200ms);
    for (const int fd : senders)
        (void)::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(500ms);
    const double before = monitor.CpuSeconds();
    const auto end = std::chrono::steady_clock::now() + kSlowRun;
    for (auto tick = std::chrono::steady_clock::now(); tick < end; tick += kByteInterval) {
        for (int& fd : senders) {
            if (fd >= 0 && ::send(fd, "a", 1, MSG_NOSIGNAL) < 0 && errno != EAGAIN) {
                ::close(fd);
                fd = -1;
                ++lost;
            }
        }
        std::this_thread::sleep_until(tick + kByteInterval);
    }
    const double used = monitor.CpuSeconds() - before;
    for (const int fd : senders)
        ::close(fd);
    std::this_thread::sleep_for(500ms);
    return used;
}

int SlowSenders(const testsupport::TempDir& dir, std::uint16_t closedPort, const std::string& program) {
    MonitorProcess monitor(dir.path(), {benchsupport::MakeList(dir, 1, closedPort), "--metrics", "127.0.0.1:0"}, {}, 0,
                           program);
    const std::uint16_t port = monitor.MetricsPort(30s);
    if (port == 0 || !monitor.WaitFor("pass 1:", 30s)) {
        std::fprintf(stderr, "the monitor did not start:\n%s", monitor.Err().c_str());
        return 1;
    }
    struct Run {
        const char* what;
        std::string head;
    };
    const Run runs[] = {{"100-byte heads", HeadStart(100, 100)},
                        {"12 KB heads of 100-byte lines", HeadStart(12 * 1024, 100)},
                        {"12 KB heads of one line", HeadStart(12 * 1024, 12 * 1024)}};
    double first = 0;
    for (const Run& run : runs) {
        long lost = 0;
        const double used = SlowSendersCost(monitor, port, run.head, lost);
        first = first == 0 ? used : first;
        std::printf("%d slow senders, %s (%zu bytes, then a byte each %lld ms): %.2f s CPU in %lld s (%.0f %% of a "
                    "core), %.2f x the first; %ld connections closed by the monitor\n",
                    kSlowSenders, run.what, run.head.size(), static_cast<long long>(kByteInterval.count()), used,
                    static_cast<long long>(kSlowRun.count()), 100.0 * used / static_cast<double>(kSlowRun.count()),
                    used / first, lost);
    }
    monitor.Signal(SIGTERM);
    monitor.Wait(10s);
    return 0;
}

// spread: one client every 20 ms while passes run back to back, so each may get a text of its
// own (the results change as a pass goes); otherwise all at once, between passes.
int SilentReaders(const testsupport::TempDir& dir, std::uint16_t closedPort, const std::string& program, bool spread) {
    const std::map<std::string, std::string> env = {{"PULSEWICK_MINUTE_MS", spread ? "60" : "60000"}};
    MonitorProcess monitor(dir.path(), {benchsupport::MakeList(dir, kEntries, closedPort), "--metrics", "127.0.0.1:0"},
                           env, 0, program);
    const std::uint16_t port = monitor.MetricsPort(30s);
    if (port == 0 || !monitor.WaitFor("pass 1:", 300s)) {
        std::fprintf(stderr, "the monitor did not start:\n%s", monitor.Err().c_str());
        return 1;
    }
    const auto scrape = testsupport::HttpRequest(port, "GET", "/metrics");
    std::this_thread::sleep_for(1s);
    const double before = StatusMiB(monitor.Pid(), "VmRSS");
    // A small receive buffer, so the body waits in the monitor rather than in the kernel.
    std::vector<int> clients;
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    double during = 0;
    for (int i = 0; i < kSilentReaders; ++i) {
        clients.push_back(benchsupport::ConnectLoopback(port, 4096));
        if (spread) {
            std::this_thread::sleep_for(20ms);
            (void)::send(clients.back(), request.data(), request.size(), MSG_NOSIGNAL);
            during = std::max(during, StatusMiB(monitor.Pid(), "VmRSS"));
        }
    }
    std::this_thread::sleep_for(200ms);
    for (const int fd : clients)
        if (!spread)
            (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    // The highest it reaches while they are open (the monitor's lifetime of a connection is 10 s).
    for (int i = 0; i < (spread ? 8 : 32); ++i) {
        during = std::max(during, StatusMiB(monitor.Pid(), "VmRSS"));
        std::this_thread::sleep_for(250ms);
    }
    int cutOff = 0;
    for (const int fd : clients) {
        pollfd hangUp{fd, POLLRDHUP, 0};
        cutOff += ::poll(&hangUp, 1, 0) == 1 && (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    }
    for (const int fd : clients)
        ::close(fd);
    std::this_thread::sleep_for(1500ms);
    const double after = StatusMiB(monitor.Pid(), "VmRSS");
    std::printf("%d connections that never read /metrics of %zu entries (%zu bytes), %s: resident memory %.1f MiB "
                "-> at most %.1f MiB (+%.1f MiB), %.1f MiB once they closed; %d cut off before their lifetime\n",
                kSilentReaders, kEntries, scrape ? scrape->body.size() : 0,
                spread ? "one every 20 ms while passes run" : "all at once", before, during, during - before, after,
                cutOff);
    monitor.Signal(SIGTERM);
    monitor.Wait(10s);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "both";
    const std::string program = argc > 2 ? argv[2] : PULSEWICK_CLI;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    testsupport::TempDir dir;
    LoopbackPort closed(LoopbackPort::Kind::closed);
    int status = 0;
    if (which == "both" || which == "slow")
        status |= SlowSenders(dir, closed.Port(), program);
    if (which == "both" || which == "silent") {
        status |= SilentReaders(dir, closed.Port(), program, false);
        status |= SilentReaders(dir, closed.Port(), program, true);
    }
    return status;
}
