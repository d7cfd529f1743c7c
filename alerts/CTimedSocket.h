#pragma once

#include "UniqueFd.h"

#include <sys/socket.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

// A blocking TCP client socket that cannot hold its thread for long: a watchdog thread,
// started at construction, cancels the call that is still waiting once the budget (10 s
// unless a test asks for less) has passed since construction. The budget covers the
// socket's whole life, not each call, and the watchdog acts at most once; a call that
// starts after it has acted is not guarded.
//
// One thread owns and uses the socket; only CancelBlockingCall may come from another.
class CTimedSocket {
public:
    static constexpr std::chrono::milliseconds kWatchdogTimeout{10000};
    // A waiting call wakes at least this often to retry its operation.
    static constexpr std::chrono::milliseconds kWakeInterval{2000};
    // One receive takes at most this many bytes (ReceiveString's buffer keeps one for the terminator).
    static constexpr int kReceiveLimit = 1023;

    CTimedSocket();
    explicit CTimedSocket(std::chrono::milliseconds budget);
    ~CTimedSocket();
    CTimedSocket(const CTimedSocket&) = delete;
    CTimedSocket& operator=(const CTimedSocket&) = delete;

    // Makes a TCP stream socket bound to any local address and port. Returns false on failure.
    bool Create();
    // Connects to a dotted IPv4 address or an IPv6 literal ([brackets] and %zone allowed), or
    // else to the first IPv4 address the name resolves to, its first IPv6 address when it has
    // no IPv4 one. An IPv6 destination gets an IPv6 socket in place of the one Create made.
    // The name lookup itself is neither guarded nor cancellable. Returns false on failure.
    bool Connect(const std::string& host, unsigned int port);
    // Sends all count bytes, waiting while the system takes no more. Returns count or -1.
    int Send(const void* data, int count, int flags = 0);
    // Returns the bytes available (at most size), waiting while there are none; 0 when the peer
    // has closed the connection, -1 on an error.
    int Receive(void* buffer, int size, int flags = 0);
    // Ends the wait of the call in progress, which then fails with EINTR; does nothing when no
    // call is in progress. Safe from any thread.
    void CancelBlockingCall();
    // Ends the call in progress and makes every later call fail at once with EINTR: the work
    // the socket serves is being given up. Safe from any thread.
    void Abort();
    void Close();

    // errno of the last failure; EINTR after a cancellation. A failed name lookup gives the
    // resolver's code (EAI_*, negative on this platform).
    int GetLastError() const { return m_nLastError; }

    // Sends the text without its terminator in one Send; returns what Send returned.
    int SendString(const char* text);
    // One Receive of at most kReceiveLimit bytes; reply gets the text up to the first zero byte,
    // or becomes empty when the Receive returned 0 or -1. Returns what Receive returned.
    int ReceiveString(std::string& reply);

private:
    class CBlockingCall;

    void StartWatchdog();
    static void WatchdogThreadProc(CTimedSocket* socket);
    // Sleeps until the socket is ready for events, the wake-up interval passes, or the call is
    // cancelled. Returns the socket's poll events (0 after a plain wake-up), -1 when cancelled.
    int WaitReady(short events);
    bool Bind(int family); // a new socket of family, bound to any local address and port
    bool Fail(int error);  // sets the last error, returns false
    int FailIo(int error); // sets the last error, returns -1

    const std::chrono::steady_clock::time_point m_deadline;
    UniqueFd m_socket;
    int m_family = AF_INET; // of m_socket
    UniqueFd m_hEvent;      // signalled by the destructor to release the watchdog
    UniqueFd m_wakeFd;      // signalled by a cancellation to end the wait at once
    std::thread m_watchdog;
    int m_nLastError = 0;

    // The record of the call in progress, shared with the watchdog.
    mutable std::mutex m_mutex;
    bool m_bBlocking = false;
    bool m_bCancelPending = false;
    bool m_bAborted = false;
};
