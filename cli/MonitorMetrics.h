#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CItem;
class CItemList;
struct ProbeOutcome;

namespace cli {

// What the monitor exposes to Prometheus: the last result of each entry, the passes so far and
// the alerts raised. Kept apart from the list so a scrape never reads an entry that the check
// run's worker may be writing; everything here is touched on the main thread only.
class MonitorMetrics {
public:
    // The label set of every entry is rendered once per list, not once per scrape.
    void SetEntries(const CItemList& list);
    // A row's result as the check run delivered it (roundTripUs < 0: no answer).
    void SetResult(std::size_t row, int result, std::int64_t roundTripUs);
    // Whether the passes measure the link (several attempts, or a degraded threshold): then the
    // loss, the jitter and the histogram of round trips are exposed beside the result.
    void SetMeasuresLink(bool on) { m_measuresLink = on; }
    // The attempts of a row's probe as it ended: its loss and jitter, each round trip observed.
    void ObserveAttempts(std::size_t row, const ProbeOutcome& outcome);
    void PassFinished(bool failed, double durationSeconds, std::time_t endedAt);
    // The time between passes as the schedule really waits it, and when the monitor started: the
    // alert rules tell a stuck monitor from one that is still on its first pass by them.
    void SetPeriodSeconds(double seconds) { m_periodSeconds = seconds; }
    void SetStartTime(std::time_t startedAt) { m_startTime = startedAt; }
    void AlertRaised(const std::string& kind, const std::string& outcome);
    // The entry at row is declared behind parent (its name): its unreachable state is exposed.
    void SetParent(std::size_t row, const std::string& parent);
    // What held the row's alerts in the last pass: a mute until then (0: none), its parent down.
    void SetHolds(std::size_t row, std::int64_t mutedUntil, bool unreachable);
    // The uplink echoed with every pass, and whether it answered in the last one (none: not yet).
    void SetUplink(const std::string& host, std::optional<bool> answered);

    // The text exposition format, version 0.0.4.
    std::string Text() const;

    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    // A label value with backslash, double quote and line feed escaped as the format requires,
    // and each byte that is not part of valid UTF-8 replaced by U+FFFD.
    static std::string EscapeLabelValue(const std::string& value);

    // Upper bounds of the round-trip histogram's buckets: 10 us to 10 s, each sqrt(10) times the last.
    static constexpr std::size_t kBuckets = 13;

private:
    struct Entry {
        std::string labels; // {row="1",address="...",kind="icmp",port="80"}
        bool probed = false;
        int result = 0;
        std::int64_t roundTripUs = -1;
        // Of the attempts, since the list was loaded; the last two of the last probe.
        bool observed = false;
        std::uint64_t attempts = 0;
        std::array<std::uint64_t, kBuckets> buckets{}; // answers within each bound, not cumulative
        std::uint64_t answers = 0;
        double roundTripSum = 0; // seconds
        double lossRatio = 0;
        std::int64_t jitterUs = -1;
        std::string parent; // escaped; empty when the entry is behind none
        bool unreachable = false;
        std::int64_t mutedUntil = 0;
    };

    // A sample "name{labels} value" for each entry that value gives one.
    using ValueFn = std::function<std::optional<std::string>(const Entry&)>;
    void AppendPerEntry(std::string& out, const char* name, const ValueFn& value) const;
    void AppendLinkSeries(std::string& out) const;
    void AppendHoldSeries(std::string& out) const;

    std::vector<Entry> m_entries;
    bool m_measuresLink = false;
    std::uint64_t m_passes = 0;
    std::uint64_t m_failedPasses = 0;
    double m_lastDurationSeconds = 0;
    std::time_t m_lastPassEnd = 0;
    double m_periodSeconds = 0;
    std::time_t m_startTime = 0;
    std::map<std::pair<std::string, std::string>, std::uint64_t> m_alerts; // (kind, outcome) -> count
    std::string m_uplink; // escaped; empty without one
    std::optional<bool> m_uplinkAnswered;
};

} // namespace cli
