// Whole check runs with many probes in flight, inside a network namespace of the benchmark's
// own (needs root): silent hosts exist only there and nothing leaves the machine.
// Usage: pass_bench [SECTION...]   sections: silent-icmp silent-tcp cancel memory (default: all)
//
// silent-tcp lowers net.ipv4.tcp_syn_retries to 3 inside that namespace only, so that one
// connect limit of the stack is about 15 s instead of about two minutes.
#include "CCheckRun.h"
#include "CItemList.h"
#include "LoopbackPorts.h"
#include "SilentHostNamespace.h"
#include "ThreadCpuTime.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::CountOpenFds;
using testsupport::CountThreads;
using testsupport::SilentHostNamespace;

constexpr const char* kSilent = SilentHostNamespace::kSilentAddress;
constexpr int kSynRetries = 3;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void Add(CItemList& list, std::int32_t connect, const char* address, std::int32_t port) {
    auto item = std::make_unique<CItem>();
    item->m_bConnect = connect;
    item->m_strAddress = address;
    item->m_nPort = port;
    list.AddTail(std::move(item));
}

// From /proc/self/status, in KiB.
long StatusKib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field) + 1);
    }
    return -1;
}

// A blocking run as the companion does it, with the main thread's and the process's CPU.
void TimedRun(const char* what, CItemList& list, double target, const char* targetText) {
    int answered = 0;
    const double thread0 = testsupport::ThreadCpuSeconds();
    const double process0 = testsupport::ProcessCpuSeconds();
    const auto start = Clock::now();
    const int result = CCheckRun().RunBlocking(list, [&](std::size_t, const CItem&, int ok) { answered += ok; });
    const double wall = Seconds(Clock::now() - start);
    const double threadCpu = testsupport::ThreadCpuSeconds() - thread0;
    const double processCpu = testsupport::ProcessCpuSeconds() - process0;
    std::printf("%s: %zu entries, %d answered, result %d\n", what, list.GetCount(), answered, result);
    std::printf("  whole pass      %8.2f s   (target <= %.2f s, %s)\n", wall, target, targetText);
    std::printf("  main thread CPU %8.3f s = %.3f %% of the pass (target < 1 %%)\n", threadCpu,
                100.0 * threadCpu / wall);
    std::printf("  process CPU     %8.3f s = %.1f %%\n", processCpu, 100.0 * processCpu / wall);
}

void SilentIcmp() {
    testsupport::LoopbackAcceptor open;
    CItemList list;
    std::vector<std::string> hosts; // 1,000 silent hosts, all routed to the silent one
    for (int i = 0; i < 1000; ++i)
        hosts.push_back("10.214." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250));
    for (int i = 0; i < 10000; ++i) {
        if (i % 10 == 0)
            Add(list, 0, hosts[static_cast<std::size_t>(i / 10)].c_str(), 0);
        else if (i % 2)
            Add(list, 1, "127.0.0.1", open.Port());
        else
            Add(list, 0, "127.0.0.1", 0);
    }
    TimedRun("1,000 silent ICMP hosts among 10,000 entries", list, 12.0, "one ICMP time-out is 10 s");
}

void SilentTcp() {
    CItem one;
    one.m_bConnect = 1;
    one.m_strAddress = kSilent;
    one.m_nPort = 80;
    const auto start = Clock::now();
    one.Check();
    const double limit = Seconds(Clock::now() - start);
    std::printf("one silent TCP connect alone: %.2f s (the stack's limit with tcp_syn_retries=%d)\n", limit,
                kSynRetries);
    CItemList list;
    for (int i = 0; i < 1000; ++i)
        Add(list, 1, kSilent, 1 + i);
    TimedRun("1,000 silent TCP hosts", list, 1.1 * limit, "1.1 x one connect limit");
}

void AddSilent(CItemList& list, int count) {
    for (int i = 0; i < count; ++i)
        Add(list, 1, kSilent, 1 + i % 60000);
}

// Starts a run over the list of `count` silent TCP entries and waits until all are in flight.
bool StartSilent(CCheckRun& run, CItemList& list, int count, int fdsBefore) {
    if (!run.Start(list, nullptr))
        return false;
    const auto giveUp = Clock::now() + std::chrono::seconds(20);
    while (CountOpenFds() < fdsBefore + count && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return CountOpenFds() >= fdsBefore + count;
}

void Cancel() {
    constexpr int kRounds = 5;
    std::vector<double> ms;
    for (int round = 0; round < kRounds; ++round) {
        const int fdsBefore = CountOpenFds();
        const int threadsBefore = CountThreads();
        CItemList list;
        AddSilent(list, 1000);
        CCheckRun run;
        if (!StartSilent(run, list, 1000, fdsBefore)) {
            std::printf("cancel: the probes did not all get in flight\n");
            return;
        }
        const auto cancelled = Clock::now();
        run.Cancel();
        while (run.IsRunning())
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - cancelled).count());
        run.Finish();
        const int threadsAfter = testsupport::WaitForThreadCount(threadsBefore, 5000);
        std::printf("cancel with 1,000 in flight: worker gone after %.2f ms; descriptors %d -> %d, threads %d -> %d\n",
                    ms.back(), fdsBefore, CountOpenFds(), threadsBefore, threadsAfter);
    }
    std::printf("  worst of %d: %.2f ms (target <= 50 ms)\n", kRounds, *std::max_element(ms.begin(), ms.end()));
}

void Memory() {
    constexpr int kEntries = 10000;
    CItemList list;
    const long empty = StatusKib("VmRSS:");
    AddSilent(list, kEntries);
    const long withList = StatusKib("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
    const int fdsBefore = CountOpenFds();
    CCheckRun run;
    run.SetMaxInFlight(kEntries);
    const bool allInFlight = StartSilent(run, list, kEntries, fdsBefore);
    const long inFlight = StatusKib("VmRSS:");
    run.Cancel();
    run.Finish();
    const long peak = StatusKib("VmHWM:");
    std::printf("memory, %d probes in flight%s: the list %ld KiB; resident with all in flight %ld KiB, peak %ld KiB "
                "= %.2f MiB above the list (target < 64 MiB; sockets' kernel memory not included)\n",
                kEntries, allInFlight ? "" : " (NOT all got in flight)", withList - empty, inFlight, peak,
                (peak - withList) / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    SilentHostNamespace ns;
    if (!ns.IsAvailable()) {
        std::printf("skipped: %s\n", ns.Reason().c_str());
        return 0;
    }
    const std::string in = "ip netns exec " + ns.Name() + " sysctl -q -w ";
    if (std::system((in + "net.ipv4.tcp_syn_retries=" + std::to_string(kSynRetries)).c_str()) != 0 ||
        std::system((in + "net.ipv4.ip_local_port_range='1024 65535'").c_str()) != 0)
        std::printf("(could not tune the namespace)\n");
    if (!ns.RouteToSilence("10.214.0.0", 16))
        std::printf("(could not route the silent network)\n");
    SilentHostNamespace::Inside inside(ns);

    std::vector<std::string> sections(argv + 1, argv + argc);
    const auto wanted = [&](const char* name) {
        return sections.empty() || std::find(sections.begin(), sections.end(), name) != sections.end();
    };
    if (wanted("silent-icmp"))
        SilentIcmp();
    if (wanted("silent-tcp"))
        SilentTcp();
    if (wanted("cancel"))
        Cancel();
    if (wanted("memory"))
        Memory();
    return 0;
}
