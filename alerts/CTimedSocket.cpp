#include "CTimedSocket.h"

#include "AddressResolver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>

namespace {

int ToPollTimeout(std::chrono::steady_clock::duration duration) {
    // Round up so that a wait never ends before its time.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(duration).count());
}

void Signal(const UniqueFd& eventFd) {
    if (!eventFd.IsValid())
        return;
    const std::uint64_t one = 1;
    while (::write(eventFd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Drain(const UniqueFd& eventFd) {
    if (!eventFd.IsValid())
        return;
    std::uint64_t count;
    while (::read(eventFd.Get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

} // namespace

// Marks the owning thread's call as in progress for its whole length, so that a cancellation
// arriving between two retries still ends it. On the way out the record is cleared together
// with any cancellation that came too late to matter, so it can never hit a later call.
class CTimedSocket::CBlockingCall {
public:
    explicit CBlockingCall(CTimedSocket& socket) : m_socket(socket) {
        std::lock_guard lock(m_socket.m_mutex);
        m_socket.m_bBlocking = true;
    }
    ~CBlockingCall() {
        std::lock_guard lock(m_socket.m_mutex);
        m_socket.m_bBlocking = false;
        if (m_socket.m_bCancelPending && !m_socket.m_bAborted) {
            m_socket.m_bCancelPending = false;
            Drain(m_socket.m_wakeFd);
        }
    }
    CBlockingCall(const CBlockingCall&) = delete;
    CBlockingCall& operator=(const CBlockingCall&) = delete;

private:
    CTimedSocket& m_socket;
};

CTimedSocket::CTimedSocket() : CTimedSocket(kWatchdogTimeout) {}

CTimedSocket::CTimedSocket(std::chrono::milliseconds budget)
    : m_deadline(std::chrono::steady_clock::now() + budget), m_hEvent(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    StartWatchdog();
}

CTimedSocket::~CTimedSocket() {
    // The release stays signalled until the watchdog reads it, so even a watchdog that has not
    // begun to wait ends without acting. Joining means it never outlives the socket.
    Signal(m_hEvent);
    if (m_watchdog.joinable())
        m_watchdog.join();
}

void CTimedSocket::StartWatchdog() {
    // Without the release event the destructor could not stop the watchdog: go without one.
    if (!m_hEvent.IsValid())
        return;
    try {
        m_watchdog = std::thread(&CTimedSocket::WatchdogThreadProc, this);
    } catch (const std::system_error&) {
    }
}

void CTimedSocket::WatchdogThreadProc(CTimedSocket* socket) {
    pollfd release{socket->m_hEvent.Get(), POLLIN, 0};
    for (;;) {
        const auto remaining = socket->m_deadline - std::chrono::steady_clock::now();
        const int ready = ::poll(&release, 1, remaining.count() > 0 ? ToPollTimeout(remaining) : 0);
        if (ready > 0)
            return;
        if (ready == 0 && std::chrono::steady_clock::now() >= socket->m_deadline)
            break;
        if (ready < 0 && errno != EINTR) {
            // Cannot wait any more; better no watchdog than a cancellation at a random time.
            return;
        }
    }
    socket->CancelBlockingCall();
}

bool CTimedSocket::Fail(int error) {
    m_nLastError = error;
    return false;
}

int CTimedSocket::FailIo(int error) {
    m_nLastError = error;
    return -1;
}

bool CTimedSocket::Create() {
    return Bind(AF_INET);
}

bool CTimedSocket::Bind(int family) {
    UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd.IsValid())
        return Fail(errno);
    sockaddr_storage any{};
    socklen_t length = 0;
    if (family == AF_INET6) {
        length = HostAddress::IPv6(in6addr_any).ToSockaddr(0, any);
    } else {
        length = HostAddress::IPv4(htonl(INADDR_ANY)).ToSockaddr(0, any);
    }
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&any), length) != 0)
        return Fail(errno);
    m_socket = std::move(fd);
    m_family = family;
    return true;
}

bool CTimedSocket::Connect(const std::string& host, unsigned int port) {
    if (!m_socket.IsValid())
        return Fail(EBADF);
    std::optional<HostAddress> destination = ParseAddressLiteral(host);
    if (!destination) {
        if (!IsLookupName(host))
            return Fail(EAI_NONAME);
        int rc = 0;
        destination = LookUpHost(host, &rc);
        if (!destination)
            return Fail(rc == EAI_SYSTEM ? errno : rc);
    }
    if (destination->Family() != m_family && !Bind(destination->Family()))
        return false;
    sockaddr_storage address;
    const socklen_t length = destination->ToSockaddr(static_cast<std::uint16_t>(port), address);

    CBlockingCall call(*this);
    if (::connect(m_socket.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return true;
    if (errno != EINPROGRESS)
        return Fail(errno);
    for (;;) {
        const int events = WaitReady(POLLOUT);
        if (events < 0)
            return Fail(EINTR);
        if (events == 0)
            continue;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(m_socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return Fail(errno);
        return error == 0 ? true : Fail(error);
    }
}

int CTimedSocket::Send(const void* data, int count, int flags) {
    if (!m_socket.IsValid())
        return FailIo(EBADF);
    CBlockingCall call(*this);
    const auto* bytes = static_cast<const char*>(data);
    int sent = 0;
    while (sent < count) {
        // No SIGPIPE: a peer that has gone is a failed send, not the end of the program.
        const ssize_t n = ::send(m_socket.Get(), bytes + sent, static_cast<size_t>(count - sent), flags | MSG_NOSIGNAL);
        if (n >= 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return FailIo(errno);
        if (WaitReady(POLLOUT) < 0)
            return FailIo(EINTR);
    }
    return count;
}

int CTimedSocket::Receive(void* buffer, int size, int flags) {
    if (!m_socket.IsValid())
        return FailIo(EBADF);
    CBlockingCall call(*this);
    for (;;) {
        const ssize_t n = ::recv(m_socket.Get(), buffer, static_cast<size_t>(size), flags);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return FailIo(errno);
        if (WaitReady(POLLIN) < 0)
            return FailIo(EINTR);
    }
}

int CTimedSocket::WaitReady(short events) {
    const int timeout = static_cast<int>(kWakeInterval.count());
    pollfd fds[2] = {{m_socket.Get(), events, 0}, {m_wakeFd.Get(), POLLIN, 0}};
    const nfds_t count = m_wakeFd.IsValid() ? 2 : 1;
    for (;;) {
        const int ready = ::poll(fds, count, timeout);
        {
            std::lock_guard lock(m_mutex);
            if (m_bCancelPending || m_bAborted)
                return -1;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return 0; // plain wake-up (or a poll failure): the caller retries its operation
        if (fds[0].revents != 0)
            return fds[0].revents;
        // Only the wake-up descriptor, yet no cancellation pending: a stale signal, clear it.
        std::lock_guard lock(m_mutex);
        if (!m_bCancelPending)
            Drain(m_wakeFd);
    }
}

void CTimedSocket::CancelBlockingCall() {
    std::lock_guard lock(m_mutex);
    if (!m_bBlocking || m_bCancelPending)
        return;
    m_bCancelPending = true;
    Signal(m_wakeFd);
}

void CTimedSocket::Abort() {
    std::lock_guard lock(m_mutex);
    m_bAborted = true;
    Signal(m_wakeFd); // stays signalled: every later wait ends at once
}

void CTimedSocket::Close() {
    m_socket.Reset();
}

int CTimedSocket::SendString(const char* text) {
    return Send(text, static_cast<int>(std::strlen(text)), 0);
}

int CTimedSocket::ReceiveString(std::string& reply) {
    char buffer[kReceiveLimit + 1];
    const int n = Receive(buffer, kReceiveLimit, 0);
    if (n != 0 && n != -1) {
        buffer[n] = '\0';
        reply = buffer;
    } else {
        reply.clear();
    }
    return n;
}
