#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

class CCMSCommCtrl;
class CItemList;

// The pager alert: calls a numeric pager through a modem on the serial control. It sends the
// initialisation string (when there is one), then one dial command carrying the pager number, the
// dial pauses and the message code, waits a while after each for the modem to say anything, and
// closes the port. Answers are never interpreted: any character only ends a wait early.
// Errors of the control (CCommError) reach the caller; the port is closed first.
class CPagerAlert {
public:
    static constexpr const char* kLineSettings = "1200,N,8,1";
    static constexpr int kInitWaitSeconds = 3;
    static constexpr int kDialWaitSeconds = 30;
    static constexpr int kAbortWaitSeconds = 5;
    static constexpr const char* kDialPrefix = "ATDT";
    static constexpr char kDialPause = ',';
    static constexpr const char* kCommandEnd = "\r";
    static constexpr const char* kDialEnd = "\r\r";
    static constexpr const char* kAbort = "\r"; // any character cancels a modem's pending command
    // The dial pauses the settings dialog accepts; a list file can hold any 32-bit count.
    static constexpr std::int32_t kMinPause = 0;
    static constexpr std::int32_t kMaxPause = 50;

    // What happened, for callers that show it (the headless program); the window ignores it.
    struct Event {
        enum Kind {
            Opened,   // text: the port, e.g. "COM2 (/dev/ttyS1)"
            Sent,     // text: the characters sent
            Answered, // seconds: how long the wait lasted
            TimedOut, // seconds: the limit that was reached
            Received, // text: what the modem had sent, read and discarded after a wait
            Closed,
        };
        Kind kind;
        std::string text;
        int seconds = 0;
    };
    using Observer = std::function<void(const Event&)>;
    // Carries out one wait for the modem; a caller that owns the wait (the window) routes it
    // through its own routine, which calls WaitForModem.
    using ModemWait = std::function<void(int limitSeconds)>;

    // The settings are copied: the thread's events run while the alert waits, and they may change
    // or replace the list meanwhile. Once stop is requested, a wait ends within a second (at once
    // when the thread's event loop is ended too), nothing more is sent and the port is closed.
    CPagerAlert(CCMSCommCtrl& comm, const CItemList& settings, Observer observer = {}, std::stop_token stop = {});

    void SetWait(ModemWait wait) { m_wait = std::move(wait); }

    // Runs the whole alert. Throws CCommError when the control fails.
    void SendPagerAlert();

    // Waits until the modem has sent anything or limitSeconds (whole seconds of the wall clock,
    // 0 = no limit) have passed; after a time-out sends the abort character and waits up to
    // kAbortWaitSeconds more. Then empties the receive buffer.
    void WaitForModem(int limitSeconds);

    // "ATDT" + number + one comma per pause + message code + two carriage returns. A count outside
    // kMinPause..kMaxPause (only possible from a list file) is used clamped to it, so a hostile
    // count can never make the command huge.
    static std::string DialCommand(const std::string& number, std::int32_t pauses, const std::string& messageCode);

private:
    // One wait of at most limitSeconds; returns the whole seconds elapsed when it ended.
    // Sets answered when the modem had sent something.
    std::int64_t WaitLoop(int limitSeconds, bool& answered);
    void Send(const std::string& text);
    void Notify(Event::Kind kind, std::string text = {}, int seconds = 0);

    void Wait(int limitSeconds);

    CCMSCommCtrl& m_comm;
    Observer m_observer;
    std::stop_token m_stop;
    ModemWait m_wait;
    std::int32_t m_nComPort;
    std::string m_strModemInit;
    std::string m_strPagerNumber;
    std::int32_t m_nPause;
    std::string m_strMessageCode;
};
