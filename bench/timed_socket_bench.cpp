// Figures for the timed socket's waits: processor time spent while a silent server holds a
// call, and how soon a cancellation ends it. Asserts nothing.
#include "CTimedSocket.h"
#include "ThreadCpuTime.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuMs() {
    return testsupport::ThreadCpuSeconds() * 1e3;
}

// A listener on 127.0.0.1 that never accepts: the kernel completes the handshake, and then
// nothing is ever said.
struct SilentServer {
    SilentServer() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd, SOMAXCONN); // room for every socket of the run
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~SilentServer() { ::close(fd); }
    int fd = -1;
    std::uint16_t port = 0;
};

struct WaitFigures {
    double wallMs;
    double cpuMs;
};

WaitFigures SilentWait(const SilentServer& server, std::chrono::milliseconds budget) {
    const auto start = Clock::now();
    CTimedSocket socket(budget);
    socket.Create();
    socket.Connect("127.0.0.1", server.port);
    const double cpu = ThreadCpuMs();
    std::string reply;
    socket.ReceiveString(reply);
    return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(), ThreadCpuMs() - cpu};
}

} // namespace

int main() {
    SilentServer server;
    const auto budget = std::chrono::milliseconds(3000);

    const WaitFigures plain = SilentWait(server, budget);
    std::printf("silent wait:               budget %lld ms, returned after %.1f ms, thread CPU %.3f ms\n",
                static_cast<long long>(budget.count()), plain.wallMs, plain.cpuMs);

    constexpr int kRounds = 20;
    const auto shortBudget = std::chrono::milliseconds(100);
    double worst = 0, total = 0;
    for (int i = 0; i < kRounds; ++i) {
        const double late = SilentWait(server, shortBudget).wallMs - static_cast<double>(shortBudget.count());
        total += late;
        worst = late > worst ? late : worst;
    }
    std::printf("cancellation after budget: mean %.2f ms, worst %.2f ms over %d sockets (limit about 2000 ms)\n",
                total / kRounds, worst, kRounds);
    return 0;
}
