#include "FakeModem.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

FakeModem::FakeModem() {
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    // Raw from the start: the program's serial port library puts back the settings it found when
    // it closes, and late answers must not be echoed back as if the program had sent them.
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = name;
    m_thread = std::thread([this] { Run(); });
}

FakeModem::~FakeModem() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_master >= 0)
        close(m_master);
    close(m_slave);
}

void FakeModem::AnswerCarriageReturns(std::vector<int> delaysMs, std::string answer) {
    std::lock_guard lock(m_mutex);
    m_delaysMs = std::move(delaysMs);
    m_answer = std::move(answer);
}

void FakeModem::AnswerEveryCarriageReturn(std::string answer) {
    std::lock_guard lock(m_mutex);
    m_answerAll = true;
    m_answer = std::move(answer);
}

void FakeModem::Send(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_pending.emplace_back(Clock::now(), text);
}

void FakeModem::HangUp() {
    m_stop = true;
    m_thread.join();
    close(m_master);
    m_master = -1;
}

std::string FakeModem::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::vector<FakeModem::Clock::time_point> FakeModem::CarriageReturnTimes() const {
    std::lock_guard lock(m_mutex);
    return m_crTimes;
}

std::optional<termios> FakeModem::SettingsAtFirstByte() const {
    std::lock_guard lock(m_mutex);
    return m_settings;
}

termios FakeModem::CurrentSettings() const {
    termios settings{};
    if (tcgetattr(m_slave, &settings) != 0)
        throw std::runtime_error("tcgetattr failed");
    return settings;
}

bool FakeModem::WaitForBytes(std::size_t count, int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (Received().size() >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Received().size() >= count;
}

void FakeModem::Run() {
    while (!m_stop) {
        pollfd pfd{m_master, POLLIN, 0};
        poll(&pfd, 1, 10);
        char buffer[512];
        const ssize_t n = (pfd.revents & POLLIN) ? read(m_master, buffer, sizeof buffer) : 0;
        std::vector<std::string> due;
        {
            std::lock_guard lock(m_mutex);
            const auto now = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                if (m_received.empty()) {
                    termios settings{};
                    if (tcgetattr(m_slave, &settings) == 0)
                        m_settings = settings;
                }
                m_received.push_back(buffer[i]);
                if (buffer[i] != '\r')
                    continue;
                const std::size_t index = m_crTimes.size();
                m_crTimes.push_back(now);
                int delay = -1;
                if (m_answerAll)
                    delay = 0;
                else if (index < m_delaysMs.size())
                    delay = m_delaysMs[index];
                if (delay >= 0)
                    m_pending.emplace_back(now + std::chrono::milliseconds(delay), m_answer);
            }
            for (auto it = m_pending.begin(); it != m_pending.end();) {
                if (it->first <= now) {
                    due.push_back(it->second);
                    it = m_pending.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (const auto& text : due)
            (void)!write(m_master, text.data(), text.size());
    }
}

ScopedPortOverride::ScopedPortOverride(int port, const std::string& device)
    : m_name("PULSEWICK_COM" + std::to_string(port)) {
    setenv(m_name.c_str(), device.c_str(), 1);
}

ScopedPortOverride::~ScopedPortOverride() {
    unsetenv(m_name.c_str());
}

int FakeModem::ProgramDescriptorsOnLine() const {
    // By device number: the line keeps it after a hang-up, when its name no longer resolves.
    struct stat line {};
    if (::fstat(m_slave, &line) != 0)
        return -1;
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const int fd = std::atoi(entry.path().filename().c_str());
        struct stat held {};
        if (fd != m_slave && ::fstat(fd, &held) == 0 && S_ISCHR(held.st_mode) && held.st_rdev == line.st_rdev)
            ++count;
    }
    return count;
}

} // namespace testsupport
