#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

class CItem;

// What one probe of an entry found, for the entry's history chart.
struct HistorySample {
    std::int64_t whenMs = 0; // when the probe ended, milliseconds since the epoch
    bool answered = false;
    std::int64_t roundTripUs = -1; // answered probes; -1 when not measured
};

// Availability and the longest outage over a stretch of samples.
struct HistorySummary {
    std::size_t probes = 0;
    std::size_t answered = 0;
    double availabilityPercent = 0.0; // 0 without probes
    // From the first failed probe of the longest run of failures to the probe that answered
    // next (or to the last probe when none has answered since).
    std::int64_t longestOutageMs = 0;
    std::size_t longestOutageProbes = 0;
};

HistorySummary Summarise(const std::vector<HistorySample>& samples);
// "2 h 5 min", "45 s", "none".
QString OutageText(const HistorySummary& summary);

// The results of this session, per entry, in memory only: the newest kCapacity per entry, so at
// least a day at one probe a minute. Entries are known by address in memory; an entry that
// leaves the list takes its history with it.
class EntryHistory {
public:
    static constexpr std::size_t kCapacity = 10000;

    void Add(const CItem* entry, const HistorySample& sample);
    // Oldest first.
    std::vector<HistorySample> Samples(const CItem* entry) const;
    // Forgets every entry not in keep.
    void KeepOnly(const std::vector<const CItem*>& keep);
    std::size_t EntryCount() const { return m_samples.size(); }

private:
    std::unordered_map<const CItem*, std::deque<HistorySample>> m_samples;
};
