// pulsewick-cli monitor's metrics endpoint under a flood: 2,000 idle connections on loopback
// that reconnect as soon as the server closes them, while one scraper asks for /metrics again
// and again. Reports how many scrapes were answered and how long they took; asserts nothing.
// Usage: metrics_flood_bench [SCRAPES [PROGRAM]]   (300, and this build's pulsewick-cli, by default)
#include "MonitorProcess.h"

#include "LoopbackPorts.h"
#include "MonitorBenchSupport.h"
#include "TempDir.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testsupport::LoopbackPort;
using testsupport::MonitorProcess;

namespace {

constexpr int kFloodConnections = 2000;
constexpr int kDefaultScrapes = 300;
constexpr int kScrapeTimeoutMs = 2000;
constexpr auto kScrapeSpacing = 20ms;

// Keeps kFloodConnections open, sending nothing; one the server closes is opened again at once.
void Flood(std::uint16_t port, const std::atomic<bool>& stop, std::atomic<long>& reconnects) {
    std::vector<pollfd> fds(kFloodConnections);
    for (auto& p : fds)
        p = {benchsupport::ConnectLoopback(port), POLLIN, 0};
    while (!stop.load()) {
        if (::poll(fds.data(), fds.size(), 100) <= 0)
            continue;
        for (auto& p : fds) {
            if (p.revents == 0)
                continue;
            char buffer[4096];
            if (::recv(p.fd, buffer, sizeof buffer, 0) > 0)
                continue;
            ::close(p.fd);
            p.fd = benchsupport::ConnectLoopback(port);
            ++reconnects;
        }
    }
    for (const auto& p : fds)
        ::close(p.fd);
}

} // namespace

int main(int argc, char** argv) {
    const int scrapes = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultScrapes;
    const std::string program = argc > 2 ? argv[2] : PULSEWICK_CLI;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < kFloodConnections + 100) {
        std::fprintf(stderr, "needs %d descriptors, the limit is %llu\n", kFloodConnections + 100,
                     static_cast<unsigned long long>(limit.rlim_cur));
        return 1;
    }

    testsupport::TempDir dir;
    LoopbackPort closed(LoopbackPort::Kind::closed);
    MonitorProcess monitor(dir.path(), {benchsupport::MakeList(dir, 1, closed.Port()), "--metrics", "127.0.0.1:0"}, {},
                           0, program);
    const std::uint16_t port = monitor.MetricsPort(30s);
    if (port == 0 || !monitor.WaitFor("pass 1:", 30s)) {
        std::fprintf(stderr, "the monitor did not start:\n%s", monitor.Err().c_str());
        return 1;
    }

    std::atomic<bool> stop{false};
    std::atomic<long> reconnects{0};
    std::thread flood(Flood, port, std::cref(stop), std::ref(reconnects));
    std::this_thread::sleep_for(1s); // the flood is up

    int answered = 0;
    std::vector<double> times;
    for (int i = 0; i < scrapes; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto answer = testsupport::HttpRequest(port, "GET", "/metrics", kScrapeTimeoutMs);
        if (answer && answer->status == 200 && answer->body.find("pulsewick_") != std::string::npos) {
            ++answered;
            times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::this_thread::sleep_for(kScrapeSpacing);
    }
    stop = true;
    flood.join();
    monitor.Signal(SIGTERM);
    monitor.Wait(10s);

    std::sort(times.begin(), times.end());
    std::printf("scrapes answered during a %d-connection reconnecting flood: %d of %d (%.1f %%), "
                "%ld reconnections\n",
                kFloodConnections, answered, scrapes, 100.0 * answered / scrapes, reconnects.load());
    if (!times.empty())
        std::printf("answered scrapes took: median %.3f s, 99th percentile %.3f s, longest %.3f s\n",
                    times[times.size() / 2], times[std::min(times.size() - 1, times.size() * 99 / 100)], times.back());
    return 0;
}
