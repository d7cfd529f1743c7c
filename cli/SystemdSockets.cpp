#include "SystemdSockets.h"

#include <systemd/sd-daemon.h>

#include <fcntl.h>
#include <sys/socket.h>

#include <system_error>

namespace cli {

SystemdSockets TakeSystemdSockets() {
    SystemdSockets taken;
    // Unsets LISTEN_FDS and LISTEN_PID, so that the execute alert's command does not take them as its own.
    const int count = ::sd_listen_fds(1);
    if (count < 0) {
        taken.error = std::system_category().message(-count);
        return taken;
    }
    for (int fd = SD_LISTEN_FDS_START; fd < SD_LISTEN_FDS_START + count; ++fd) {
        UniqueFd socket(fd);
        // systemd passes them without close-on-exec.
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        if (::sd_is_socket(fd, AF_UNSPEC, SOCK_STREAM, 1) <= 0 ||
            (::sd_is_socket(fd, AF_INET, 0, -1) <= 0 && ::sd_is_socket(fd, AF_INET6, 0, -1) <= 0)) {
            taken.error = "descriptor " + std::to_string(fd) + " from systemd is not a listening TCP socket";
            continue;
        }
        taken.sockets.push_back(std::move(socket));
    }
    return taken;
}

} // namespace cli
