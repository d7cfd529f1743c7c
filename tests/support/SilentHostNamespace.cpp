#include "SilentHostNamespace.h"

#include "SanitizerBuild.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace testsupport {

namespace {

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::atomic<int> g_counter{0};

int CountEntries(const char* directory) {
    DIR* dir = ::opendir(directory);
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count;
}

} // namespace

SilentHostNamespace::SilentHostNamespace(bool pingSockets) {
    m_name = "pulsewick-test-" + std::to_string(::getpid()) + "-" + std::to_string(g_counter++);
    if (::geteuid() != 0) {
        m_reason = "creating a network namespace needs root";
        return;
    }
    if (!Run("ip netns add " + m_name)) {
        m_reason = "ip netns add failed";
        return;
    }
    const std::string in = "ip -n " + m_name + " ";
    const std::vector<std::string> steps = {
        in + "link set lo up",
        // Frames to the silent host go to a MAC that nobody has; the peer end drops them.
        in + "link add silent0 type veth peer name silent1",
        in + "addr add 10.213.0.1/24 dev silent0",
        in + "link set silent1 up",
        in + "link set silent0 up",
        in + "neigh replace 10.213.0.2 lladdr 02:00:00:00:02:13 dev silent0 nud permanent",
        // Nobody answers the neighbour query for the unreachable host.
        in + "link add unreach0 type veth peer name unreach1",
        in + "addr add 10.213.1.1/24 dev unreach0",
        in + "link set unreach1 up",
        in + "link set unreach0 up",
    };
    for (const auto& step : steps) {
        if (!Run(step)) {
            m_reason = "failed: " + step;
            return;
        }
    }
    if (pingSockets && !Run("ip netns exec " + m_name + " sysctl -w net.ipv4.ping_group_range='0 2147483647'")) {
        m_reason = "cannot allow ping sockets";
        return;
    }
    m_available = true;
    // The same over IPv6: a permanent neighbour that nobody is, and a network where nobody
    // answers the neighbour solicitation.
    m_ipv6 = Run(in + "addr add fd00:213::1/64 dev silent0 nodad") &&
             Run(in + "neigh replace fd00:213::2 lladdr 02:00:00:00:02:13 dev silent0 nud permanent") &&
             Run(in + "addr add fd00:213:1::1/64 dev unreach0 nodad");
}

bool SilentHostNamespace::RouteToSilence(const std::string& address, int prefixLength) const {
    return m_available && Run("ip -n " + m_name + " route replace " + address + "/" + std::to_string(prefixLength) +
                              " via " + kSilentAddress);
}

SilentHostNamespace::~SilentHostNamespace() {
    if (!m_name.empty())
        Run("ip netns del " + m_name);
}

SilentHostNamespace::Inside::Inside(const SilentHostNamespace& ns) {
    m_previous = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(("/run/netns/" + ns.Name()).c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0)
        ::close(target);
    if (!entered)
        throw std::runtime_error("cannot enter network namespace " + ns.Name());
}

SilentHostNamespace::Inside::~Inside() {
    if (m_previous >= 0) {
        ::setns(m_previous, CLONE_NEWNET);
        ::close(m_previous);
    }
}

long long SnmpCounter(const std::string& group, const std::string& name) {
    if (!group.empty() && group.back() == '6') {
        // One "GroupName value" pair a line.
        std::ifstream snmp6("/proc/thread-self/net/snmp6");
        std::string key;
        long long value = 0;
        while (snmp6 >> key >> value) {
            if (key == group + name)
                return value;
        }
        return -1;
    }
    std::ifstream snmp("/proc/thread-self/net/snmp");
    std::string names;
    std::string values;
    while (std::getline(snmp, names) && std::getline(snmp, values)) {
        if (names.rfind(group + ":", 0) != 0)
            continue;
        std::istringstream n(names);
        std::istringstream v(values);
        std::string key;
        std::string value;
        while (n >> key && v >> value) {
            if (key == name)
                return std::stoll(value);
        }
    }
    return -1;
}

int CountOpenFds() {
    return CountEntries("/proc/self/fd") - 1;
} // less the one that reads it

int CountThreads() {
    if constexpr (kThreadSanitizer) {
        // Make the sanitizer's own thread part of every count, before as after.
        static const bool started = [] {
            std::thread([] {}).join();
            return true;
        }();
        (void)started;
    }
    return CountEntries("/proc/self/task");
}

int WaitForThreadCount(int expected, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int count = CountThreads();
    while (count > expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        count = CountThreads();
    }
    return count;
}

} // namespace testsupport
