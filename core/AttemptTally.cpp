#include "AttemptTally.h"

#include <algorithm>

AttemptTally::AttemptTally(std::size_t entries, std::int32_t attemptsPerEntry)
    : m_perEntry(std::max(attemptsPerEntry, 1)), m_sent(entries, 0), m_ended(entries, 0),
      m_roundTripsUs(entries * static_cast<std::size_t>(m_perEntry), -1),
      m_failures(entries * static_cast<std::size_t>(m_perEntry), ProbeFailure::unknown) {}

bool AttemptTally::End(std::size_t entry, std::int32_t attempt, const ProbeOutcome& outcome) {
    const std::size_t at = entry * static_cast<std::size_t>(m_perEntry) + static_cast<std::size_t>(attempt);
    m_roundTripsUs[at] = outcome.result ? std::max<std::int64_t>(outcome.roundTripUs, 0) : -1;
    m_failures[at] = outcome.failure;
    return ++m_ended[entry] == m_perEntry;
}

ProbeOutcome AttemptTally::Outcome(std::size_t entry) const {
    const auto first =
        m_roundTripsUs.begin() + static_cast<std::ptrdiff_t>(entry * static_cast<std::size_t>(m_perEntry));
    ProbeOutcome outcome;
    outcome.attemptsUs.assign(first, first + m_perEntry);
    outcome.stats = SummariseAttempts(outcome.attemptsUs);
    outcome.result = outcome.stats.received > 0 ? 1 : 0;
    outcome.roundTripUs = outcome.stats.medianUs;
    if (!outcome.result)
        outcome.failure = m_failures[entry * static_cast<std::size_t>(m_perEntry)];
    return outcome;
}
