#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A TCP server on 127.0.0.1 or ::1 (port chosen by the system) that takes one connection and plays
// a script, for clients that must cope with servers misbehaving on purpose. After the script
// it goes on reading (and recording) everything until the client closes, unless the script
// stopped reading. Everything received is kept.
class ScriptedServer {
public:
    struct Step {
        enum class Kind { Say, ReadLine, ReadUntil, Pause, Close, StopReading };
        Kind kind;
        std::string text;
        std::chrono::milliseconds pause{0};
    };
    static Step Say(std::string text) { return {Step::Kind::Say, std::move(text)}; }
    // Waits for one CR LF terminated line.
    static Step ReadLine() { return {Step::Kind::ReadLine, {}}; }
    static Step ReadUntil(std::string terminator) { return {Step::Kind::ReadUntil, std::move(terminator)}; }
    static Step Pause(std::chrono::milliseconds time) { return {Step::Kind::Pause, {}, time}; }
    // Closes the connection at once; the rest of the script is not played.
    static Step Close() { return {Step::Kind::Close, {}}; }
    // Holds the connection open without reading another byte.
    static Step StopReading() { return {Step::Kind::StopReading, {}}; }

    // port 0: one the system chooses. A fixed port (e.g. a well-known one inside a network
    // namespace of the test's own) makes the constructor throw when it is taken.
    explicit ScriptedServer(std::vector<Step> script, std::uint16_t port = 0, bool ipv6 = false);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t Port() const { return m_port; }
    // Waits (at most timeout) until the connection has ended; false if it has not.
    bool WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Everything received so far.
    std::string Received() const;
    // When the connection was accepted.
    std::chrono::steady_clock::time_point AcceptedAt() const;

private:
    void Run(std::vector<Step> script);
    bool Fill(int fd); // reads what is there into m_pending; false on end or stop

    int m_listen = -1;
    int m_stop = -1;
    std::uint16_t m_port = 0;
    std::string m_pending; // received, not yet consumed by the script
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_bEnded = false;
    std::string m_received;
    std::chrono::steady_clock::time_point m_acceptedAt{};
    std::thread m_thread;
};

} // namespace testsupport
