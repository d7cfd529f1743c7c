// How fast a worker blocked on a silent host ends after a stop, and how little a silent
// ICMP probe costs while it waits. Needs root to create its own network namespace; the
// silent host exists only inside it.
// Usage: stop_latency_bench [STOPS]   (default 20)
#include "AbortableThread.h"
#include "CCheckRun.h"
#include "CItem.h"
#include "CItemList.h"
#include "SilentHostNamespace.h"
#include "ThreadCpuTime.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::ProcessCpuSeconds;
using testsupport::SilentHostNamespace;
using testsupport::ThreadCpuSeconds;

void StopLatency(const char* what, std::int32_t connect, int stops) {
    std::vector<double> ms;
    for (int i = 0; i < stops; ++i) {
        AbortableThreadPtr thread(StartAbortableThread([connect]() -> unsigned int {
            CItem item;
            item.m_bConnect = connect;
            item.m_strAddress = SilentHostNamespace::kSilentAddress;
            item.m_nPort = 80;
            return static_cast<unsigned int>(item.Check());
        }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // well into the wait
        const auto stopped = Clock::now();
        StopAbortableThread(thread.get());
        while (IsAbortableThreadRunning(thread->hThread))
            std::this_thread::yield();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - stopped).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("stop latency, %s: median %.3f ms, max %.3f ms over %d stops (target < 50 ms)\n", what,
                ms[ms.size() / 2], ms.back(), stops);
}

} // namespace

int main(int argc, char** argv) {
    const int stops = argc > 1 ? std::atoi(argv[1]) : 20;
    SilentHostNamespace ns;
    if (!ns.IsAvailable()) {
        std::printf("skipped: %s\n", ns.Reason().c_str());
        return 0;
    }
    SilentHostNamespace::Inside inside(ns);
    StopLatency("TCP connect", 1, stops);
    StopLatency("ICMP echo", 0, stops);

    // One silent ICMP probe: the probing thread's CPU time, and the whole process's while a
    // run waits for it the way the companion does.
    double probeCpu = 0;
    const auto start = Clock::now();
    std::thread([&] {
        const double before = ThreadCpuSeconds();
        CItem item;
        item.m_bConnect = 0;
        item.m_strAddress = SilentHostNamespace::kSilentAddress;
        item.Check();
        probeCpu = ThreadCpuSeconds() - before;
    }).join();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("silent ICMP probe: %.2f s wall, waiting thread %.3f ms CPU = %.4f %% (target < 1 %%)\n", wall,
                probeCpu * 1e3, 100.0 * probeCpu / wall);

    CItemList list;
    auto item = std::make_unique<CItem>();
    item->m_bConnect = 0;
    item->m_strAddress = SilentHostNamespace::kSilentAddress;
    list.AddTail(std::move(item));
    const double cpuBefore = ProcessCpuSeconds();
    const auto runStart = Clock::now();
    CCheckRun run;
    const int result = run.RunBlocking(list, nullptr);
    const double runWall = std::chrono::duration<double>(Clock::now() - runStart).count();
    const double runCpu = ProcessCpuSeconds() - cpuBefore;
    std::printf("check run over it: result %d, %.2f s wall, whole process %.3f ms CPU = %.4f %%\n", result, runWall,
                runCpu * 1e3, 100.0 * runCpu / runWall);
    return 0;
}
