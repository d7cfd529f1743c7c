#include "MonitorMetrics.h"

#include "CItemList.h"
#include "JsonOutput.h"
#include "MetricsExposition.h"
#include "Probe.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace cli {

namespace {

constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

// The bucket a round trip counts in: the first whose printed bound it does not exceed, read in
// seconds as a scraper reads "le" (both sides are the nearest double to their decimal value).
std::size_t BucketOf(std::int64_t us) {
    static const std::array<double, MonitorMetrics::kBuckets> bounds = [] {
        std::array<double, MonitorMetrics::kBuckets> read{};
        for (std::size_t i = 0; i < read.size(); ++i)
            read[i] = std::strtod(MonitorMetrics::kBucketBounds[i], nullptr);
        return read;
    }();
    const double seconds = static_cast<double>(us) / 1e6;
    return static_cast<std::size_t>(std::lower_bound(bounds.begin(), bounds.end(), seconds) - bounds.begin());
}

// What a map node of the alert counts takes beside its two short texts.
constexpr std::size_t kAlertNodeBytes = 128;

} // namespace

std::size_t MonitorMetrics::Figures::Bytes() const {
    return sizeof(Figures) + entries.capacity() * sizeof(Entry) + links.capacity() * sizeof(Link) +
           holds.capacity() * sizeof(Hold) + alerts.size() * kAlertNodeBytes;
}

MonitorMetrics::MonitorMetrics() : m_figures(std::make_shared<Figures>()) {}

std::string MonitorMetrics::EscapeLabelValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            // Prometheus rejects a whole scrape over one label that is not UTF-8, and a list's
            // addresses are bytes in whatever encoding wrote them: a stray byte becomes U+FFFD.
            if (const std::size_t length = Utf8SequenceLength(value, i)) {
                out.append(value, i, length);
                i += length - 1;
            } else {
                out += kReplacementCharacter;
            }
            continue;
        }
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

MonitorMetrics::Figures& MonitorMetrics::Change() {
    // Only this thread ever copies or releases a snapshot, so the count cannot rise meanwhile.
    if (m_figures.use_count() > 1)
        m_figures = std::make_shared<Figures>(*m_figures);
    m_figures->textSize.reset();
    return *m_figures;
}

void MonitorMetrics::SetEntries(const CItemList& list) {
    auto labels = std::make_shared<std::vector<std::string>>();
    labels->reserve(list.GetCount());
    std::size_t row = 0;
    list.ForEach([&](const CItem& item) {
        // An ICMP entry keeps a stored port it does not use: its port label stays empty rather than
        // suggest one.
        const std::string port = item.m_bConnect ? std::to_string(item.m_nPort) : std::string();
        labels->push_back("{row=\"" + std::to_string(++row) + "\",address=\"" + EscapeLabelValue(item.m_strAddress) +
                          "\",kind=\"" + (item.m_bConnect ? "tcp" : "icmp") + "\",port=\"" + port + "\"}");
    });
    Figures& figures = Change();
    figures.entries.assign(labels->size(), {});
    figures.entries.shrink_to_fit();
    figures.links.clear();
    figures.links.shrink_to_fit();
    figures.holds.clear();
    figures.holds.shrink_to_fit();
    figures.mutedRows = 0;
    figures.parents.reset();
    figures.labels = std::move(labels);
}

void MonitorMetrics::SetResult(std::size_t row, int result, std::int64_t roundTripUs) {
    if (row >= m_figures->entries.size())
        return;
    Figures::Entry& entry = Change().entries[row];
    entry.probed = true;
    entry.answered = result != 0;
    entry.roundTripUs = result ? roundTripUs : -1;
}

void MonitorMetrics::SetMeasuresLink(bool on) {
    Change().measuresLink = on;
}

void MonitorMetrics::ObserveAttempts(std::size_t row, const ProbeOutcome& outcome) {
    if (row >= m_figures->entries.size() || outcome.stats.sent == 0)
        return;
    Figures& figures = Change();
    if (figures.links.size() != figures.entries.size())
        figures.links.resize(figures.entries.size());
    Figures::Link& link = figures.links[row];
    link.attempts += static_cast<std::uint64_t>(outcome.stats.sent);
    link.lossRatio = outcome.stats.LossRatio();
    link.jitterUs = outcome.stats.jitterUs;
    for (const std::int64_t us : outcome.attemptsUs) {
        if (us < 0)
            continue;
        const std::size_t bucket = BucketOf(us);
        if (bucket < kBuckets)
            ++link.buckets[bucket];
        ++link.answers;
        link.roundTripSum += static_cast<double>(us) / 1e6;
    }
}

void MonitorMetrics::PassFinished(bool failed, double durationSeconds, std::time_t endedAt) {
    Figures& figures = Change();
    ++figures.passes;
    figures.failedPasses += failed ? 1 : 0;
    figures.lastDurationSeconds = durationSeconds;
    figures.lastPassEnd = endedAt;
}

void MonitorMetrics::SetPeriodSeconds(double seconds) {
    Change().periodSeconds = seconds;
}

void MonitorMetrics::SetStartTime(std::time_t startedAt) {
    Change().startTime = startedAt;
}

void MonitorMetrics::AlertRaised(const std::string& kind, const std::string& outcome) {
    ++Change().alerts[{kind, outcome}];
}

void MonitorMetrics::SetParent(std::size_t row, const std::string& parent) {
    if (row >= m_figures->entries.size())
        return;
    Figures& figures = Change();
    auto parents = figures.parents ? std::make_shared<std::vector<std::string>>(*figures.parents)
                                   : std::make_shared<std::vector<std::string>>(figures.entries.size());
    (*parents)[row] = EscapeLabelValue(parent);
    figures.parents = std::move(parents);
}

void MonitorMetrics::SetHolds(std::size_t row, std::int64_t mutedUntil, bool unreachable) {
    const Figures& now = *m_figures;
    if (row >= now.entries.size())
        return;
    // A list that never holds anything keeps its snapshots as small as before.
    if (now.holds.empty() && mutedUntil == 0 && !unreachable)
        return;
    if (row < now.holds.size() && now.holds[row].mutedUntil == mutedUntil && now.holds[row].unreachable == unreachable)
        return;
    Figures& figures = Change();
    figures.holds.resize(figures.entries.size());
    figures.mutedRows -= figures.holds[row].mutedUntil != 0 ? 1 : 0;
    figures.mutedRows += mutedUntil != 0 ? 1 : 0;
    figures.holds[row] = {mutedUntil, unreachable};
}

void MonitorMetrics::SetUplink(const std::string& host, std::optional<bool> answered) {
    Figures& figures = Change();
    figures.uplink = EscapeLabelValue(host);
    figures.uplinkAnswered = answered;
}

std::string MonitorMetrics::Text() const {
    return MetricsExposition(Now()).ReadAll();
}

} // namespace cli
