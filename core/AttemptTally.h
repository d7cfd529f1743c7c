#pragma once

#include "Probe.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The attempts (echoes or connects) of every entry of a pass: how many went out and ended, each
// one's round trip and failure, and the entry's outcome once the last has ended.
class AttemptTally {
public:
    AttemptTally(std::size_t entries, std::int32_t attemptsPerEntry);

    std::int32_t PerEntry() const { return m_perEntry; }
    // The number of entry's next attempt; PerEntry() once all went out.
    std::int32_t Sent(std::size_t entry) const { return m_sent[entry]; }
    // The next attempt of entry went out.
    void CountSent(std::size_t entry) { ++m_sent[entry]; }
    // An attempt has ended; true when it was the entry's last.
    bool End(std::size_t entry, std::int32_t attempt, const ProbeOutcome& outcome);
    // The entry's outcome: answered when any attempt was, its round trip the median, its failure
    // that of the first attempt when none was.
    ProbeOutcome Outcome(std::size_t entry) const;

private:
    std::int32_t m_perEntry;
    std::vector<std::int32_t> m_sent;
    std::vector<std::int32_t> m_ended;
    std::vector<std::int64_t> m_roundTripsUs; // per entry, per attempt; -1 unanswered
    std::vector<ProbeFailure> m_failures;     // likewise
};
