#include "MonitorMetrics.h"

#include "CItemList.h"
#include "JsonOutput.h"
#include "Probe.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace cli {

namespace {

constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

void AppendHeader(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// Shortest text that reads back as the same double ("%.17g" would print 0.10000000000000001).
std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// The bounds as the exposition writes them in "le", in seconds.
constexpr const char* kBucketBounds[MonitorMetrics::kBuckets] = {
    "1e-05", "3.16e-05", "0.0001", "0.000316", "0.001", "0.00316", "0.01", "0.0316", "0.1", "0.316", "1", "3.16", "10"};

// The bucket a round trip counts in: the first whose printed bound it does not exceed, read in
// seconds as a scraper reads "le" (both sides are the nearest double to their decimal value).
std::size_t BucketOf(std::int64_t us) {
    static const std::array<double, MonitorMetrics::kBuckets> bounds = [] {
        std::array<double, MonitorMetrics::kBuckets> read{};
        for (std::size_t i = 0; i < read.size(); ++i)
            read[i] = std::strtod(kBucketBounds[i], nullptr);
        return read;
    }();
    const double seconds = static_cast<double>(us) / 1e6;
    return static_cast<std::size_t>(std::lower_bound(bounds.begin(), bounds.end(), seconds) - bounds.begin());
}

// name{labels...,extra} as a sample's start: the entry's labels with one more appended.
void AppendSample(std::string& out, const char* name, const std::string& labels, const std::string& extra) {
    out += name;
    out.append(labels, 0, labels.size() - 1);
    out += extra;
    out += "} ";
}

} // namespace

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

void MonitorMetrics::SetEntries(const CItemList& list) {
    m_entries.clear();
    m_entries.reserve(list.GetCount());
    std::size_t row = 0;
    list.ForEach([&](const CItem& item) {
        Entry entry;
        // An ICMP entry keeps a stored port it does not use: its port label stays empty rather than
        // suggest one.
        const std::string port = item.m_bConnect ? std::to_string(item.m_nPort) : std::string();
        entry.labels = "{row=\"" + std::to_string(++row) + "\",address=\"" + EscapeLabelValue(item.m_strAddress) +
                       "\",kind=\"" + (item.m_bConnect ? "tcp" : "icmp") + "\",port=\"" + port + "\"}";
        m_entries.push_back(std::move(entry));
    });
}

void MonitorMetrics::SetResult(std::size_t row, int result, std::int64_t roundTripUs) {
    if (row >= m_entries.size())
        return;
    Entry& entry = m_entries[row];
    entry.probed = true;
    entry.result = result ? 1 : 0;
    entry.roundTripUs = result ? roundTripUs : -1;
}

void MonitorMetrics::ObserveAttempts(std::size_t row, const ProbeOutcome& outcome) {
    if (row >= m_entries.size() || outcome.stats.sent == 0)
        return;
    Entry& entry = m_entries[row];
    entry.observed = true;
    entry.attempts += static_cast<std::uint64_t>(outcome.stats.sent);
    entry.lossRatio = outcome.stats.LossRatio();
    entry.jitterUs = outcome.stats.jitterUs;
    for (const std::int64_t us : outcome.attemptsUs) {
        if (us < 0)
            continue;
        const std::size_t bucket = BucketOf(us);
        if (bucket < kBuckets)
            ++entry.buckets[bucket];
        ++entry.answers;
        entry.roundTripSum += static_cast<double>(us) / 1e6;
    }
}

void MonitorMetrics::PassFinished(bool failed, double durationSeconds, std::time_t endedAt) {
    ++m_passes;
    m_failedPasses += failed ? 1 : 0;
    m_lastDurationSeconds = durationSeconds;
    m_lastPassEnd = endedAt;
}

void MonitorMetrics::AlertRaised(const std::string& kind, const std::string& outcome) {
    ++m_alerts[{kind, outcome}];
}

std::string MonitorMetrics::Text() const {
    std::string out;
    // Two samples per entry, and the link's when measured: the loss, jitter, attempts and histogram.
    const std::size_t samples = m_measuresLink ? 2 + 3 + kBuckets + 3 : 2;
    out.reserve(512 + m_entries.size() * samples * (m_entries.empty() ? 0 : m_entries.front().labels.size() + 64));

    AppendHeader(out, "pulsewick_probe_success", "gauge", "Whether the entry answered its last probe (1) or not (0).");
    AppendPerEntry(out, "pulsewick_probe_success", [](const Entry& entry) -> std::optional<std::string> {
        if (!entry.probed)
            return std::nullopt;
        return entry.result ? "1" : "0";
    });
    // Only answered probes have a round trip; a missing sample says "no answer" better than NaN.
    AppendHeader(out, "pulsewick_probe_round_trip_seconds", "gauge",
                 "Round-trip time of the entry's last probe, when it was answered.");
    AppendPerEntry(out, "pulsewick_probe_round_trip_seconds", [](const Entry& entry) -> std::optional<std::string> {
        if (!entry.probed || entry.roundTripUs < 0)
            return std::nullopt;
        return Number(static_cast<double>(entry.roundTripUs) / 1e6);
    });
    if (m_measuresLink)
        AppendLinkSeries(out);
    AppendHeader(out, "pulsewick_last_pass_duration_seconds", "gauge", "How long the last finished pass took.");
    out += "pulsewick_last_pass_duration_seconds " + Number(m_lastDurationSeconds) + "\n";
    AppendHeader(out, "pulsewick_last_pass_timestamp_seconds", "gauge",
                 "When the last pass ended, in seconds since the epoch (0 before the first).");
    out += "pulsewick_last_pass_timestamp_seconds " + std::to_string(static_cast<long long>(m_lastPassEnd)) + "\n";
    AppendHeader(out, "pulsewick_period_seconds", "gauge", "Time from the end of one pass to the start of the next.");
    out += "pulsewick_period_seconds " + Number(m_periodSeconds) + "\n";
    AppendHeader(out, "pulsewick_start_time_seconds", "gauge", "When the monitor started, in seconds since the epoch.");
    out += "pulsewick_start_time_seconds " + std::to_string(static_cast<long long>(m_startTime)) + "\n";
    AppendHeader(out, "pulsewick_passes_total", "counter", "Passes finished since the monitor started.");
    out += "pulsewick_passes_total " + std::to_string(m_passes) + "\n";
    AppendHeader(out, "pulsewick_failed_passes_total", "counter",
                 "Passes in which one or more entries did not answer.");
    out += "pulsewick_failed_passes_total " + std::to_string(m_failedPasses) + "\n";
    AppendHeader(out, "pulsewick_alerts_total", "counter", "Alerts raised after failed passes, by kind and outcome.");
    for (const auto& [key, count] : m_alerts)
        out += "pulsewick_alerts_total{kind=\"" + key.first + "\",outcome=\"" + key.second + "\"} " +
               std::to_string(count) + "\n";
    return out;
}

} // namespace cli

namespace cli {

// Per entry, as smokeping_prober has them: the attempts sent, the loss and jitter of the last
// probe, and a histogram of every round trip (its count is the attempts answered).
void MonitorMetrics::AppendPerEntry(std::string& out, const char* name, const ValueFn& value) const {
    for (const Entry& entry : m_entries) {
        const std::optional<std::string> text = value(entry);
        if (!text)
            continue;
        out += name;
        out += entry.labels;
        out += ' ';
        out += *text;
        out += '\n';
    }
}

void MonitorMetrics::AppendLinkSeries(std::string& out) const {
    AppendHeader(out, "pulsewick_probe_attempts_total", "counter", "Echoes or connects sent to the entry.");
    AppendPerEntry(out, "pulsewick_probe_attempts_total", [](const Entry& entry) -> std::optional<std::string> {
        if (!entry.observed)
            return std::nullopt;
        return std::to_string(entry.attempts);
    });
    AppendHeader(out, "pulsewick_probe_loss_ratio", "gauge",
                 "Share of the attempts of the entry's last probe that got no answer.");
    AppendPerEntry(out, "pulsewick_probe_loss_ratio", [](const Entry& entry) -> std::optional<std::string> {
        if (!entry.observed)
            return std::nullopt;
        return Number(entry.lossRatio);
    });
    AppendHeader(out, "pulsewick_probe_jitter_seconds", "gauge",
                 "Mean absolute difference of consecutive round trips in the entry's last probe.");
    AppendPerEntry(out, "pulsewick_probe_jitter_seconds", [](const Entry& entry) -> std::optional<std::string> {
        if (!entry.observed || entry.jitterUs < 0)
            return std::nullopt;
        return Number(static_cast<double>(entry.jitterUs) / 1e6);
    });
    AppendHeader(out, "pulsewick_probe_attempt_round_trip_seconds", "histogram",
                 "Round trips of the entry's answered attempts.");
    for (const Entry& entry : m_entries) {
        if (!entry.observed)
            continue;
        std::uint64_t cumulative = 0;
        for (std::size_t i = 0; i < kBuckets; ++i) {
            cumulative += entry.buckets[i];
            AppendSample(out, "pulsewick_probe_attempt_round_trip_seconds_bucket", entry.labels,
                         std::string(",le=\"") + kBucketBounds[i] + '"');
            out += std::to_string(cumulative) + '\n';
        }
        AppendSample(out, "pulsewick_probe_attempt_round_trip_seconds_bucket", entry.labels, ",le=\"+Inf\"");
        out += std::to_string(entry.answers) + '\n';
        out += "pulsewick_probe_attempt_round_trip_seconds_sum";
        out += entry.labels;
        out += ' ' + Number(entry.roundTripSum) + '\n';
        out += "pulsewick_probe_attempt_round_trip_seconds_count";
        out += entry.labels;
        out += ' ' + std::to_string(entry.answers) + '\n';
    }
}

} // namespace cli
