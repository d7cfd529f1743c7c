#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace testsupport {

// `pulsewick-cli monitor ARGS` as a child process with its standard error in a file, so a test
// can wait for its lines, signal it and take its exit status. Killed if still running at the end.
class MonitorProcess {
public:
    // descriptorLimit: when not 0, the soft and hard limit of open descriptors of the program;
    // program: another build of it (`PROGRAM monitor ARGS`).
    MonitorProcess(const std::filesystem::path& dir, std::vector<std::string> args,
                   const std::map<std::string, std::string>& env = {}, unsigned descriptorLimit = 0,
                   std::string program = PULSEWICK_CLI);
    ~MonitorProcess();
    MonitorProcess(const MonitorProcess&) = delete;
    MonitorProcess& operator=(const MonitorProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    std::string Err() const;
    // Waits until standard error holds text (counting from byte `from`); true when it does.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout, std::size_t from = 0) const;
    // Counts the lines of standard error that start with prefix.
    int CountLines(const std::string& prefix) const;
    void Signal(int sig) const;
    // Waits for the exit; the status (128 + signal when killed), or nothing after timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // Processor time (user + system) the program has used so far, in seconds; once it has ended
    // and before Wait, all it used.
    double CpuSeconds() const;
    // Waits for the program to end without collecting it (so CpuSeconds still reads it); false
    // after timeout.
    bool WaitEnded(std::chrono::milliseconds timeout) const;
    // The port of "metrics on http://HOST:PORT/metrics", once that line is there; 0 otherwise.
    std::uint16_t MetricsPort(std::chrono::milliseconds timeout) const;

private:
    std::filesystem::path m_err;
    pid_t m_pid = -1;
};

// One HTTP/1.1 request to 127.0.0.1:port; the status code and the body, or nothing when no
// complete answer came within timeoutMs.
struct HttpAnswer {
    int status = 0;
    std::string body;
};
std::optional<HttpAnswer> HttpRequest(std::uint16_t port, const std::string& method, const std::string& target,
                                      int timeoutMs = 10000);

// Runs `promtool check metrics` on text: what it found wrong, empty when the text passed.
std::string PromtoolProblems(const std::string& text);

} // namespace testsupport
