#include "MonitorMetrics.h"

#include "CItemList.h"
#include "JsonOutput.h"
#include "MuteState.h"
#include "Probe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

// The bounds as the exposition writes them in "le", and in microseconds.
constexpr const char* kBucketBounds[MonitorMetrics::kBuckets] = {
    "1e-05", "3.16e-05", "0.0001", "0.000316", "0.001", "0.00316", "0.01", "0.0316", "0.1", "0.316", "1", "3.16", "10"};
constexpr std::int64_t kBucketBoundsUs[MonitorMetrics::kBuckets] = {
    10, 31, 100, 316, 1000, 3162, 10000, 31623, 100000, 316228, 1000000, 3162278, 10000000};

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
        const std::size_t bucket = static_cast<std::size_t>(
            std::lower_bound(std::begin(kBucketBoundsUs), std::end(kBucketBoundsUs), us) - std::begin(kBucketBoundsUs));
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

void MonitorMetrics::SetParent(std::size_t row, const std::string& parent) {
    if (row < m_entries.size())
        m_entries[row].parent = EscapeLabelValue(parent);
}

void MonitorMetrics::SetHolds(std::size_t row, std::int64_t mutedUntil, bool unreachable) {
    if (row >= m_entries.size())
        return;
    m_entries[row].mutedUntil = mutedUntil;
    m_entries[row].unreachable = unreachable;
}

void MonitorMetrics::SetUplink(const std::string& host, std::optional<bool> answered) {
    m_uplink = EscapeLabelValue(host);
    m_uplinkAnswered = answered;
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
    AppendHoldSeries(out);
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

// Only what is set: no series without parents, mutes or an uplink.
void MonitorMetrics::AppendHoldSeries(std::string& out) const {
    const auto any = [this](auto&& test) { return std::any_of(m_entries.begin(), m_entries.end(), test); };
    if (any([](const Entry& entry) { return !entry.parent.empty(); })) {
        AppendHeader(out, "pulsewick_probe_unreachable", "gauge",
                     "Whether the entry failed while its parent (label parent) failed too (1) or not (0).");
        for (const Entry& entry : m_entries) {
            if (entry.parent.empty() || !entry.probed)
                continue;
            AppendSample(out, "pulsewick_probe_unreachable", entry.labels, ",parent=\"" + entry.parent + '"');
            out += entry.unreachable ? "1\n" : "0\n";
        }
    }
    if (any([](const Entry& entry) { return entry.mutedUntil != 0; })) {
        AppendHeader(out, "pulsewick_muted_until_timestamp_seconds", "gauge",
                     "Until when a mute holds the entry's alerts, in seconds since the epoch (+Inf: until resumed).");
        AppendPerEntry(out, "pulsewick_muted_until_timestamp_seconds", [](const Entry& entry) -> std::optional<std::string> {
            if (entry.mutedUntil == 0)
                return std::nullopt;
            return entry.mutedUntil == MuteState::kUntilResumed ? "+Inf" : std::to_string(entry.mutedUntil);
        });
    }
    if (!m_uplink.empty() && m_uplinkAnswered) {
        AppendHeader(out, "pulsewick_uplink_up", "gauge",
                     "Whether the monitor's uplink answered its echo in the last pass (1) or not (0: cut off).");
        out += "pulsewick_uplink_up{uplink=\"" + m_uplink + "\"} " + (*m_uplinkAnswered ? "1\n" : "0\n");
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
