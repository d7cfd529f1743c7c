#pragma once

#include "HostAddress.h"
#include "ProbeFailure.h"
#include "ProbeStats.h"
#include "UniqueFd.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What one probe found: 1 answered / 0 not, how long the answer took, and why there was none.
// A probe of several attempts answered when any of them did; its round trip is their median.
struct ProbeOutcome {
    ProbeOutcome() = default;
    ProbeOutcome(int result, std::int64_t roundTripUs = -1, ProbeFailure failure = ProbeFailure::unknown)
        : result(result), roundTripUs(roundTripUs), failure(failure) {}

    int result = 0;
    std::int64_t roundTripUs = -1;                // microseconds; -1 when not answered
    ProbeFailure failure = ProbeFailure::unknown; // when result is 0
    ProbeStats stats;                             // of the attempts of a pass's probe
    std::vector<std::int64_t> attemptsUs;         // each attempt's round trip, as sent; -1 unanswered
};

// One probe as a state machine over one non-blocking descriptor of its own, so that a pass can
// keep many probes in flight on one thread; a probe on its own runs the very same machine.
// The owner waits for Events() on Fd() until Deadline(), then calls OnReady or OnDeadline.
class AsyncProbe {
public:
    using Clock = std::chrono::steady_clock;
    enum class Step {
        waiting,      // wait for Events() on Fd(), or until Deadline()
        done,         // Outcome() is final; the descriptor is closed
        noDescriptor, // Begin could not get a descriptor: nothing was sent, try again later
    };

    virtual ~AsyncProbe() = default;

    // Sends the request to destination, over IPv4 or IPv6 as the address is.
    virtual Step Begin(const HostAddress& destination) = 0;
    // The descriptor reported revents (poll flags).
    virtual Step OnReady(short revents) = 0;
    // Deadline() has passed without an answer.
    virtual Step OnDeadline() { return Failed(ProbeFailure::timedOut); }

    virtual int Fd() const { return m_fd.Get(); }
    short Events() const { return m_events; }
    const std::optional<Clock::time_point>& Deadline() const { return m_deadline; }
    const ProbeOutcome& Outcome() const { return m_outcome; }

protected:
    Step Finish(ProbeOutcome outcome);
    Step Answered(); // the outcome of an answer that came now
    Step Failed(ProbeFailure why = ProbeFailure::unknown) { return Finish({0, -1, why}); }
    // A socket call failed with errno error.
    Step FailedWith(int error) { return Failed(ProbeFailureFromErrno(error)); }

    UniqueFd m_fd;
    short m_events = 0;
    std::optional<Clock::time_point> m_deadline;
    Clock::time_point m_start;
    ProbeOutcome m_outcome;
};

// socket() failed for want of a descriptor (of the process or of the system), not for good.
bool IsOutOfDescriptors(int error);

// Whether an entry can be attempted at all: a TCP port outside 0..65535 cannot.
bool CanAttempt(std::int32_t bConnect, std::int32_t port);

// The probe for an entry: an ICMP echo when bConnect is 0, else a TCP connect to port, given up
// after tcpTimeoutS seconds when that is not 0. Null when the entry cannot be attempted: its
// result is 0 at once.
std::unique_ptr<AsyncProbe> MakeProbe(std::int32_t bConnect, std::int32_t port, std::int32_t tcpTimeoutS = 0);

// Runs one probe to its end on the calling thread, waiting in AbortablePoll only, so that a
// stopped worker leaves at once. A probe without a descriptor to spare answers 0.
ProbeOutcome RunProbeAlone(AsyncProbe& probe, const HostAddress& destination);

// Probes one connection without touching any entry: an ICMP echo when bConnect is 0, else a TCP
// connect to port. Blocks in AbortablePoll only, so a stopped worker leaves at once.
ProbeOutcome ProbeConnection(std::int32_t bConnect, const std::string& address, std::int32_t port);
