// The yardstick for a pass over loopback hosts: the least a program can do, in the style of a
// short C tool. One ICMP socket; for each address of the file, one echo request, then wait for its
// reply (at most a second) before the next; a line per host. No threads, no list file, no names.
// Usage: bare_echo_loop HOSTS_FILE (dotted IPv4 addresses, one a line). Needs a ping socket or root.
#include "IcmpEchoSession.h" // the checksum, nothing else

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    FILE* hosts = argc == 2 ? std::fopen(argv[1], "r") : nullptr;
    if (!hosts) {
        std::fprintf(stderr, "usage: bare_echo_loop HOSTS_FILE\n");
        return 2;
    }
    // A ping socket where allowed (the kernel sets the identifier), else raw.
    bool raw = false;
    int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    if (fd < 0) {
        fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        raw = true;
    }
    if (fd < 0) {
        std::perror("socket");
        return 1;
    }
    const std::uint16_t id = static_cast<std::uint16_t>(getpid());
    char line[256];
    int answered = 0;
    for (std::uint16_t sequence = 1; std::fgets(line, sizeof line, hosts); ++sequence) {
        line[std::strcspn(line, "\r\n")] = '\0';
        sockaddr_in to{};
        to.sin_family = AF_INET;
        if (inet_pton(AF_INET, line, &to.sin_addr) != 1)
            continue;
        icmphdr request{};
        request.type = ICMP_ECHO;
        request.un.echo.id = htons(id);
        request.un.echo.sequence = htons(sequence);
        request.checksum = InternetChecksum(reinterpret_cast<const unsigned char*>(&request), sizeof request);
        const double sent = Now();
        if (sendto(fd, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
            continue;
        bool ok = false;
        for (double left = 1.0; !ok && left > 0; left = 1.0 - (Now() - sent)) {
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(left * 1000) + 1) <= 0)
                break;
            unsigned char reply[128];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = recvfrom(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            const std::size_t header = raw && got > 0 ? static_cast<std::size_t>(reply[0] & 0x0F) * 4 : 0;
            if (got < static_cast<ssize_t>(header + sizeof(icmphdr)) || from.sin_addr.s_addr != to.sin_addr.s_addr)
                continue;
            icmphdr answer;
            std::memcpy(&answer, reply + header, sizeof answer);
            ok = answer.type == ICMP_ECHOREPLY && ntohs(answer.un.echo.sequence) == sequence &&
                 (!raw || ntohs(answer.un.echo.id) == id);
        }
        answered += ok;
        std::printf("%s %s %.3f ms\n", line, ok ? "Yes" : "No", (Now() - sent) * 1000.0);
    }
    std::fclose(hosts);
    close(fd);
    return answered > 0 ? 0 : 1;
}
