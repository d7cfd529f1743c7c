#include "CPagerAlert.h"

#include "CCMSCommCtrl.h"
#include "CItemList.h"

#include <algorithm>
#include <chrono>

namespace {

using std::chrono::system_clock;

// The limits are whole seconds of the wall clock: a limit of n ends after n - 1 to n seconds.
std::int64_t WallSeconds() {
    return std::chrono::floor<std::chrono::seconds>(system_clock::now()).time_since_epoch().count();
}

// Sleeping until the clock's next second is all a wait needs: before then neither the elapsed
// time nor the limit test can change (an answer wakes the sleep early). The extra millisecond
// makes sure the second has turned.
int MillisecondsToNextSecond() {
    const auto now = system_clock::now().time_since_epoch();
    const auto intoSecond = now - std::chrono::floor<std::chrono::seconds>(now);
    return static_cast<int>(
               std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::seconds(1) - intoSecond).count()) +
           1;
}

} // namespace

CPagerAlert::CPagerAlert(CCMSCommCtrl& comm, const CItemList& settings, Observer observer, std::stop_token stop)
    : m_comm(comm), m_observer(std::move(observer)), m_stop(std::move(stop)), m_nComPort(settings.m_nComPort),
      m_strModemInit(settings.m_strModemInit), m_strPagerNumber(settings.m_strPagerNumber), m_nPause(settings.m_nPause),
      m_strMessageCode(settings.m_strMessageCode) {}

std::string CPagerAlert::DialCommand(const std::string& number, std::int32_t pauses, const std::string& messageCode) {
    std::string command = kDialPrefix + number;
    command.append(static_cast<std::size_t>(std::clamp(pauses, kMinPause, kMaxPause)), kDialPause);
    return command + messageCode + kDialEnd;
}

void CPagerAlert::Notify(Event::Kind kind, std::string text, int seconds) {
    if (m_observer)
        m_observer(Event{kind, std::move(text), seconds});
}

void CPagerAlert::Send(const std::string& text) {
    m_comm.SetOutput(text);
    Notify(Event::Sent, text);
}

void CPagerAlert::SendPagerAlert() {
    // The port index of the settings counts from 0, the control's port number from 1; -1 (no port
    // chosen) becomes port 0, which the control refuses.
    m_comm.SetCommPort(static_cast<std::int16_t>(static_cast<std::int64_t>(m_nComPort) + 1));
    m_comm.SetSettings(kLineSettings);
    m_comm.SetInputLen(0);
    m_comm.SetPortOpen(true);
    Notify(Event::Opened, m_comm.PortName());

    try {
        if (!m_strModemInit.empty()) {
            Send(m_strModemInit + kCommandEnd);
            Wait(kInitWaitSeconds);
        }
        if (!m_stop.stop_requested()) {
            Send(DialCommand(m_strPagerNumber, m_nPause, m_strMessageCode));
            Wait(kDialWaitSeconds);
        }
    } catch (...) {
        // A port left open would keep the modem from every other program until we exit.
        try {
            m_comm.SetPortOpen(false);
        } catch (...) {
            // The first failure is the one worth reporting.
        }
        throw;
    }

    m_comm.SetPortOpen(false);
    Notify(Event::Closed);
}

void CPagerAlert::Wait(int limitSeconds) {
    if (m_wait)
        m_wait(limitSeconds);
    else
        WaitForModem(limitSeconds);
}

std::int64_t CPagerAlert::WaitLoop(int limitSeconds, bool& answered) {
    const std::int64_t start = WallSeconds();
    for (;;) {
        const std::int64_t elapsed = WallSeconds() - start;
        if (m_stop.stop_requested())
            return elapsed;
        if (m_comm.GetInBufferCount() != 0) {
            answered = true;
            return elapsed;
        }
        if (limitSeconds != 0 && elapsed >= limitSeconds)
            return elapsed;
        m_comm.WaitForInput(MillisecondsToNextSecond());
    }
}

void CPagerAlert::WaitForModem(int limitSeconds) {
    bool answered = false;
    const std::int64_t elapsed = WaitLoop(limitSeconds, answered);
    if (m_stop.stop_requested())
        return; // given up: no abort, the port is closed next
    // Only the time decides: an answer in the very second the limit is reached still aborts.
    if (limitSeconds != 0 && elapsed >= limitSeconds) {
        Notify(Event::TimedOut, {}, limitSeconds);
        Send(kAbort);
        answered = false;
        const std::int64_t abortElapsed = WaitLoop(kAbortWaitSeconds, answered);
        Notify(answered ? Event::Answered : Event::TimedOut, {},
               static_cast<int>(answered ? abortElapsed : kAbortWaitSeconds));
    } else {
        Notify(Event::Answered, {}, static_cast<int>(elapsed));
    }
    const std::string discarded = m_comm.GetInput();
    if (!discarded.empty())
        Notify(Event::Received, discarded);
}
