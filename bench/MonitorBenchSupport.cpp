#include "MonitorBenchSupport.h"

#include "CItemList.h"
#include "ListFile.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <fstream>
#include <memory>

namespace benchsupport {

double StatusMiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::stod(line.substr(field.size() + 1)) / 1024.0;
    return -1;
}

int ConnectLoopback(std::uint16_t port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const int on = 1; // a small write goes out at once, in a segment of its own
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return fd;
}

std::string MakeList(const testsupport::TempDir& dir, std::size_t entries, std::uint16_t port) {
    CItemList list;
    list.Reserve(entries);
    if (port == 0)
        list.m_nPeriod = 1; // minutes, shortened by the caller
    for (std::size_t i = 0; i < entries; ++i) {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = port ? 1 : 0;
        item->m_strAddress =
            port ? "127.0.0.1" : "127.0." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
        item->m_nPort = port;
        list.AddTail(std::move(item));
    }
    const std::string path = dir.file("list-" + std::to_string(entries) + (port ? "-tcp" : "-icmp") + ".pwk").string();
    SaveListFile(list, path);
    return path;
}

} // namespace benchsupport
