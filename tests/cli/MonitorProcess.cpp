#include "MonitorProcess.h"

#include "TempDir.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <utility>

using namespace std::chrono_literals;

namespace testsupport {

MonitorProcess::MonitorProcess(const std::filesystem::path& dir, std::vector<std::string> args,
                               const std::map<std::string, std::string>& env, unsigned descriptorLimit,
                               std::string program)
    : m_err(dir / "monitor-stderr.txt") {
    args.insert(args.begin(), {std::move(program), "monitor"});
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    // Emptied here, not in the child: a wait that starts at once must not read an earlier run's lines.
    std::ofstream(m_err, std::ios::trunc);
    m_pid = ::fork();
    if (m_pid == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        ::dup2(err, 2);
        for (const auto& [name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        if (descriptorLimit != 0) {
            const rlimit limit{descriptorLimit, descriptorLimit};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
}

MonitorProcess::~MonitorProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::string MonitorProcess::Err() const {
    std::ifstream file(m_err, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool MonitorProcess::WaitFor(const std::string& text, std::chrono::milliseconds timeout, std::size_t from) const {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (Err().find(text, from) != std::string::npos)
            return true;
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(10ms);
    }
}

int MonitorProcess::CountLines(const std::string& prefix) const {
    const std::string err = "\n" + Err();
    int count = 0;
    for (std::size_t at = err.find("\n" + prefix); at != std::string::npos; at = err.find("\n" + prefix, at + 1))
        ++count;
    return count;
}

void MonitorProcess::Signal(int sig) const {
    if (m_pid > 0)
        ::kill(m_pid, sig);
}

std::optional<int> MonitorProcess::Wait(std::chrono::milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= giveUp)
            return std::nullopt;
        std::this_thread::sleep_for(2ms);
    }
}

double MonitorProcess::CpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    // Fields 14 and 15 (utime, stime), counted after the parenthesised command name.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

bool MonitorProcess::WaitEnded(std::chrono::milliseconds timeout) const {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == m_pid)
            return true;
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(2ms);
    }
}

std::uint16_t MonitorProcess::MetricsPort(std::chrono::milliseconds timeout) const {
    const std::string prefix = "metrics on http://127.0.0.1:";
    if (!WaitFor("/metrics\n", timeout))
        return 0;
    const std::string err = Err();
    const std::size_t at = err.find(prefix);
    return at == std::string::npos ? 0 : static_cast<std::uint16_t>(std::atoi(err.c_str() + at + prefix.size()));
}

std::optional<HttpAnswer> HttpRequest(std::uint16_t port, const std::string& method, const std::string& target,
                                      int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return std::nullopt;
    }
    // Until the server closes, or the body has the length the header announced.
    std::string data;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::optional<HttpAnswer> answer;
    while (std::chrono::steady_clock::now() < giveUp) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            data.append(buffer, static_cast<std::size_t>(n));
        const std::size_t headerEnd = data.find("\r\n\r\n");
        if (headerEnd != std::string::npos && data.compare(0, 9, "HTTP/1.1 ") == 0) {
            const std::size_t length = data.find("Content-Length: ");
            const std::size_t expected =
                length < headerEnd ? std::strtoul(data.c_str() + length + 16, nullptr, 10) : std::string::npos;
            if ((expected != std::string::npos && data.size() - headerEnd - 4 >= expected) || n == 0) {
                answer = HttpAnswer{std::atoi(data.c_str() + 9), data.substr(headerEnd + 4)};
                break;
            }
        }
        if (n <= 0)
            break;
    }
    ::close(fd);
    return answer;
}

std::string PromtoolProblems(const std::string& text) {
    TempDir dir;
    const auto input = dir.file("metrics.txt");
    const auto output = dir.file("promtool.txt");
    WriteFileBytes(input, std::vector<unsigned char>(text.begin(), text.end()));
    const std::string command = "promtool check metrics < '" + input.string() + "' > '" + output.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    const auto bytes = ReadFileBytes(output);
    const std::string said(bytes.begin(), bytes.end());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return said;
    return "promtool failed (status " + std::to_string(status) + "): " + said;
}

} // namespace testsupport
