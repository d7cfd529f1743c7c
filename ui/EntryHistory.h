#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <unordered_map>
#include <vector>

class CItem;

// What one probe of an entry found, for the entry's history chart. The window keeps millions:
// the attempts and the degraded state fill what would be padding, so a result stays 24 bytes.
struct HistorySample {
    std::int64_t whenMs = 0; // when the probe ended, milliseconds since the epoch
    bool answered = false;
    bool degraded = false;         // answered, but lost too many attempts or answered too slowly
    std::uint8_t sent = 0;         // attempts (echoes or connects); 0 when none was counted
    std::uint8_t lost = 0;         // attempts of them that got no answer
    std::int64_t roundTripUs = -1; // answered probes (the median of several answers); -1 when not measured
};
static_assert(sizeof(HistorySample) <= 24, "a result of the history grew past its 24 bytes");

// Availability, the longest outage, the attempts lost and the time degraded over a stretch of samples.
struct HistorySummary {
    std::size_t probes = 0;
    std::size_t answered = 0;
    double availabilityPercent = 0.0; // 0 without probes
    // From the first failed probe of the longest run of failures to the probe that answered
    // next (or to the last probe when none has answered since).
    std::int64_t longestOutageMs = 0;
    std::size_t longestOutageProbes = 0;
    bool severalAttempts = false; // some probe made more than one attempt, so its loss tells something
    std::size_t attemptsSent = 0;
    std::size_t attemptsLost = 0;
    // From each degraded probe to the probe after it: the time the entry was degraded in all.
    std::int64_t degradedMs = 0;
    std::size_t degradedProbes = 0;
};

HistorySummary Summarise(const std::vector<HistorySample>& samples);
// "2 h 5 min (3 failed probes)", "45 s (1 failed probe)", "none".
QString OutageText(const HistorySummary& summary);
// "12.5 % of 40 attempts lost"; empty unless some probe made several attempts.
QString AttemptsLostText(const HistorySummary& summary);
// "degraded 5 min 0 s (5 probes)"; empty when no probe was degraded.
QString DegradedText(const HistorySummary& summary);

// What the window kept of one entry: its newest results, and how many older ones it let go.
struct EntryRecord {
    std::vector<HistorySample> samples; // oldest first
    std::size_t dropped = 0;
};

// The results of this session, per entry, in memory only. Each entry keeps its newest
// kCapacity results (a week at one probe a minute); all entries together keep at most
// kMaxSamples (kMaxBytes of results): past that, the oldest result of the longest history goes
// first, so a long list shortens every history evenly and a short history keeps all of it.
// Entries are known by address in memory; an entry that leaves the list takes its history with it.
class EntryHistory {
public:
    static constexpr std::size_t kCapacity = 10000;
    static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;
    static constexpr std::size_t kMaxSamples = kMaxBytes / sizeof(HistorySample);

    void Add(const CItem* entry, const HistorySample& sample);
    // Oldest first.
    std::vector<HistorySample> Samples(const CItem* entry) const;
    EntryRecord Record(const CItem* entry) const;
    // Forgets every entry not in keep.
    void KeepOnly(const std::vector<const CItem*>& keep);
    std::size_t EntryCount() const { return m_entries.size(); }
    std::size_t SampleCount() const { return m_total; }

private:
    struct Kept {
        std::deque<HistorySample> samples;
        std::size_t dropped = 0;
    };
    void DropOldest(const CItem* entry, Kept& kept);

    std::unordered_map<const CItem*, Kept> m_entries;
    // Every entry by the length of its history, the longest last.
    std::set<std::pair<std::size_t, const CItem*>> m_byLength;
    std::size_t m_total = 0;
};
