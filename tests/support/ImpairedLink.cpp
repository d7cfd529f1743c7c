#include "ImpairedLink.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <queue>

namespace testsupport {

namespace {

struct Pending {
    ImpairedLink::Clock::time_point due;
    ImpairedLink::Clock::time_point arrived; // none for a duplicate's further copies
    std::vector<unsigned char> packet;
    bool operator>(const Pending& other) const { return due > other.due; }
};

// The echo reply to an IPv4 echo request: addresses swapped, the type changed and the ICMP
// checksum grown by what the type lost. The data, and so the prober's token, stays as it came.
std::vector<unsigned char> ReplyTo(const unsigned char* request, std::size_t length, std::size_t header) {
    std::vector<unsigned char> reply(request, request + length);
    std::swap_ranges(reply.begin() + 12, reply.begin() + 16, reply.begin() + 16);
    reply[header] = 0;
    std::uint32_t sum = static_cast<std::uint32_t>(reply[header + 2] << 8 | reply[header + 3]) + 0x0800;
    sum = (sum & 0xffff) + (sum >> 16);
    reply[header + 2] = static_cast<unsigned char>(sum >> 8);
    reply[header + 3] = static_cast<unsigned char>(sum);
    return reply;
}

} // namespace

ImpairedLink::ImpairedLink(const SilentHostNamespace& ns, const std::string& device, const std::string& network,
                           Rule rule)
    : m_rule(std::move(rule)) {
    if (!ns.IsAvailable())
        return;
    {
        SilentHostNamespace::Inside inside(ns);
        m_tun = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
        ifreq request{};
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        std::strncpy(request.ifr_name, device.c_str(), IFNAMSIZ - 1);
        m_ok = m_tun >= 0 && ::ioctl(m_tun, TUNSETIFF, &request) == 0;
    }
    const std::string ip = "ip -n " + ns.Name() + " ";
    m_ok = m_ok && std::system((ip + "link set " + device + " up txqueuelen 100000").c_str()) == 0 &&
           std::system((ip + "route add " + network + " dev " + device).c_str()) == 0;
    if (m_ok)
        m_thread = std::thread([this] { Serve(); });
}

ImpairedLink::~ImpairedLink() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_tun >= 0)
        ::close(m_tun);
}

std::vector<ImpairedLink::Request> ImpairedLink::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<std::chrono::nanoseconds> ImpairedLink::Delays() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_delays;
}

void ImpairedLink::Serve() {
    constexpr auto kStopCheck = std::chrono::milliseconds(20);
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> queue;
    std::map<in_addr_t, std::uint64_t> seen;
    while (!m_stop) {
        // To the nanosecond: a reply late by a rounded millisecond would blur what the prober measures.
        std::chrono::nanoseconds wait = kStopCheck;
        if (!queue.empty())
            wait = std::clamp<std::chrono::nanoseconds>(queue.top().due - Clock::now(), {}, kStopCheck);
        const timespec timeout{0, static_cast<long>(wait.count())};
        pollfd ready{m_tun, POLLIN, 0};
        ::ppoll(&ready, 1, &timeout, nullptr);
        unsigned char buffer[2048];
        for (ssize_t got; (got = ::read(m_tun, buffer, sizeof buffer)) > 0;) {
            const std::size_t header = std::size_t{static_cast<unsigned char>(buffer[0] & 0x0f)} * 4;
            if (got < 28 || (buffer[0] >> 4) != 4 || buffer[9] != IPPROTO_ICMP || buffer[header] != 8)
                continue;
            in_addr_t destination;
            std::memcpy(&destination, buffer + 16, sizeof destination);
            const auto now = Clock::now();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests.push_back({destination, now});
            }
            const Verdict verdict = m_rule(destination, seen[destination]++);
            if (verdict.drop) {
                ++m_dropped;
                continue;
            }
            const auto reply = ReplyTo(buffer, static_cast<std::size_t>(got), header);
            for (int copy = 0; copy < verdict.copies; ++copy)
                queue.push({now + verdict.delay, copy == 0 ? now : Clock::time_point{}, reply});
        }
        while (!queue.empty() && queue.top().due <= Clock::now()) {
            [[maybe_unused]] const ssize_t written =
                ::write(m_tun, queue.top().packet.data(), queue.top().packet.size());
            if (queue.top().arrived != Clock::time_point{}) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_delays.push_back(Clock::now() - queue.top().arrived);
            }
            queue.pop();
        }
    }
}

} // namespace testsupport
