#pragma once

#include "ThreadCpuTime.h"

#include <termios.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A modem played over a pseudo-terminal: the program under test opens the slave side as its
// serial port, this side records every byte and answers carriage returns as scripted.
class FakeModem {
public:
    using Clock = std::chrono::steady_clock;

    FakeModem();
    ~FakeModem();
    FakeModem(const FakeModem&) = delete;
    FakeModem& operator=(const FakeModem&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    // Descriptors this process holds on the program's side of the line besides the modem's own:
    // 0 once the program has closed its port.
    int ProgramDescriptorsOnLine() const;

    // The answer to the n-th carriage return received (counting from 0) comes after delays[n]
    // milliseconds; a carriage return past the end of the list, or with a negative delay, gets
    // no answer. Without a script the modem stays silent.
    void AnswerCarriageReturns(std::vector<int> delaysMs, std::string answer = "0\r");
    void AnswerEveryCarriageReturn(std::string answer = "0\r");
    // Sends text to the program at once.
    void Send(const std::string& text);
    // Closes the pseudo-terminal's controlling side: the line hangs up.
    void HangUp();

    std::string Received() const;
    // When each carriage return arrived.
    std::vector<Clock::time_point> CarriageReturnTimes() const;
    // The line settings as the program left them, taken when the first byte arrived.
    std::optional<termios> SettingsAtFirstByte() const;
    // The line settings now.
    termios CurrentSettings() const;
    // Waits up to timeoutMs until the modem has received `count` bytes.
    bool WaitForBytes(std::size_t count, int timeoutMs) const;

private:
    void Run();

    int m_master = -1;
    int m_slave = -1; // kept open so the line never hangs up between the program's opens
    std::string m_slavePath;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::string m_received;
    std::vector<Clock::time_point> m_crTimes;
    std::vector<std::pair<Clock::time_point, std::string>> m_pending;
    std::vector<int> m_delaysMs;
    bool m_answerAll = false;
    std::string m_answer;
    std::optional<termios> m_settings;
    std::thread m_thread;
};

// Points PULSEWICK_COMn at a device for the life of the object.
class ScopedPortOverride {
public:
    ScopedPortOverride(int port, const std::string& device);
    ~ScopedPortOverride();
    ScopedPortOverride(const ScopedPortOverride&) = delete;
    ScopedPortOverride& operator=(const ScopedPortOverride&) = delete;

private:
    std::string m_name;
};

} // namespace testsupport
