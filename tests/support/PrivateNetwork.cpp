#include "PrivateNetwork.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace testsupport {

namespace {

bool BringLoopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        up = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(fd);
    return up;
}

// The user namespace route needs a single-threaded process, so body runs in a child.
std::optional<std::string> RunInChild(const std::function<std::string()>& body, std::string* reason) {
    constexpr int kNoNamespace = 99;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        if (reason)
            *reason = "no pipe";
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0 || !BringLoopbackUp())
            ::_exit(kNoNamespace);
        const std::string text = body();
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(pipeFds[1], text.data() + written, text.size() - written);
            if (n <= 0)
                ::_exit(1);
            written += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (pid > 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (reason)
            *reason = WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace ? "no network namespace can be made here"
                                                                               : "the isolated child failed";
        return std::nullopt;
    }
    return text;
}

} // namespace

ScopedPrivateNetwork::ScopedPrivateNetwork() {
    m_previous = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_previous < 0 || ::unshare(CLONE_NEWNET) != 0)
        return;
    // Even without loopback nothing could leave, but the tests' own servers need it.
    m_active = BringLoopbackUp();
}

ScopedPrivateNetwork::~ScopedPrivateNetwork() {
    if (m_previous >= 0) {
        ::setns(m_previous, CLONE_NEWNET);
        ::close(m_previous);
    }
}

std::optional<std::string> RunInPrivateNetwork(const std::function<std::string()>& body, std::string* reason) {
    std::optional<std::string> result;
    bool entered = false;
    // Namespaces belong to threads: a thread of its own leaves the caller's untouched.
    std::thread([&] {
        const ScopedPrivateNetwork network;
        entered = network.IsActive();
        if (entered)
            result = body();
    }).join();
    if (entered)
        return result;
    return RunInChild(body, reason);
}

bool RunWithHostsFile(const std::string& hostsText, const std::function<void()>& body, std::string* reason) {
    char path[] = "/tmp/pulsewick-hosts-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0 || ::write(fd, hostsText.data(), hostsText.size()) != static_cast<ssize_t>(hostsText.size())) {
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path);
        }
        if (reason)
            *reason = "cannot write a hosts file";
        return false;
    }
    ::close(fd);
    std::string failure;
    std::thread([&] {
        const ScopedPrivateNetwork network;
        if (!network.IsActive()) {
            failure = "no network namespace can be made here";
            return;
        }
        // The mount namespace stays with this thread (and those it starts) and goes with them.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(path, "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
            failure = std::string("cannot mount a hosts file: ") + std::strerror(errno);
            return;
        }
        body();
    }).join();
    ::unlink(path);
    if (!failure.empty() && reason)
        *reason = failure;
    return failure.empty();
}

} // namespace testsupport
