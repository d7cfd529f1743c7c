// The pager alert's wait for the modem, over a pseudo-terminal: processor time of the waiting
// thread while the modem stays silent, and how soon an answer ends a wait.
#include "CCMSCommCtrl.h"
#include "CItemList.h"
#include "CPagerAlert.h"
#include "ThreadCpuTime.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::ThreadCpuSeconds;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    setenv("PULSEWICK_COM2", name, 1);

    CItemList list;
    CCMSCommCtrl comm;
    comm.SetCommPort(2);
    comm.SetSettings(CPagerAlert::kLineSettings);
    comm.SetPortOpen(true);
    CPagerAlert alert(comm, list);

    // A silent modem: the 3-second wait, the abort, and the 5-second wait after it.
    double cpu = ThreadCpuSeconds();
    auto start = Clock::now();
    alert.WaitForModem(CPagerAlert::kInitWaitSeconds);
    const double wall = Seconds(Clock::now() - start);
    cpu = ThreadCpuSeconds() - cpu;
    std::printf("silent modem, %d s limit: waited %.2f s, waiting thread used %.1f ms of processor (%.3f %%)\n",
                CPagerAlert::kInitWaitSeconds, wall, cpu * 1000, 100 * cpu / wall);

    // An answer arriving at a random moment: how long until the wait ends.
    constexpr int kRounds = 20;
    std::vector<double> latencies;
    for (int i = 0; i < kRounds; ++i) {
        Clock::time_point sent;
        std::thread modem([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50 + 37 * i % 400));
            sent = Clock::now();
            (void)!write(master, "0\r", 2);
        });
        alert.WaitForModem(CPagerAlert::kDialWaitSeconds);
        const auto ended = Clock::now();
        modem.join();
        latencies.push_back(Seconds(ended - sent) * 1000);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("answer to end of wait over %d rounds: median %.2f ms, worst %.2f ms\n", kRounds,
                latencies[latencies.size() / 2], latencies.back());

    comm.SetPortOpen(false);
    close(master);
    close(slave);
    return 0;
}
