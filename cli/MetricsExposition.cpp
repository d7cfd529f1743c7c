#include "MetricsExposition.h"

#include "MuteState.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>

namespace cli {

namespace {

using Figures = MonitorMetrics::Figures;

// Shortest text that reads back as the same double ("%.17g" would print 0.10000000000000001).
std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string Seconds(std::int64_t us) {
    return Number(static_cast<double>(us) / 1e6);
}

const Figures::Link* LinkOf(const Figures& figures, std::size_t row) {
    return row < figures.links.size() && figures.links[row].attempts > 0 ? &figures.links[row] : nullptr;
}

// name{labels...,extra} as a sample's start: the entry's labels with one more appended.
void AppendSample(std::string& out, const char* name, const std::string& labels, const std::string& extra) {
    out += name;
    out.append(labels, 0, labels.size() - 1);
    out += extra;
    out += "} ";
}

// Per entry, as smokeping_prober has them: a histogram of every round trip (its count is the
// attempts answered).
void AppendRoundTrips(std::string& out, const Figures& figures, std::size_t row) {
    const Figures::Link* link = LinkOf(figures, row);
    if (link == nullptr)
        return;
    const std::string& labels = (*figures.labels)[row];
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < MonitorMetrics::kBuckets; ++i) {
        cumulative += link->buckets[i];
        AppendSample(out, "pulsewick_probe_attempt_round_trip_seconds_bucket", labels,
                     std::string(",le=\"") + MonitorMetrics::kBucketBounds[i] + '"');
        out += std::to_string(cumulative) + '\n';
    }
    AppendSample(out, "pulsewick_probe_attempt_round_trip_seconds_bucket", labels, ",le=\"+Inf\"");
    out += std::to_string(link->answers) + '\n';
    out += "pulsewick_probe_attempt_round_trip_seconds_sum";
    out += labels;
    out += ' ' + Number(link->roundTripSum) + '\n';
    out += "pulsewick_probe_attempt_round_trip_seconds_count";
    out += labels;
    out += ' ' + std::to_string(link->answers) + '\n';
}

bool MeasuresLink(const Figures& figures) {
    return figures.measuresLink;
}

const Figures::Hold* HoldOf(const Figures& figures, std::size_t row) {
    return row < figures.holds.size() ? &figures.holds[row] : nullptr;
}

// Behind a parent: the parent's name as one more label.
void AppendUnreachable(std::string& out, const Figures& figures, std::size_t row) {
    const std::string& parent = (*figures.parents)[row];
    if (parent.empty() || !figures.entries[row].probed)
        return;
    const Figures::Hold* hold = HoldOf(figures, row);
    AppendSample(out, "pulsewick_probe_unreachable", (*figures.labels)[row], ",parent=\"" + parent + '"');
    out += hold != nullptr && hold->unreachable ? "1\n" : "0\n";
}

// One metric family, in the order of the text. Its samples come from exactly one of the four.
struct Family {
    const char* name;
    const char* type;
    const char* help;
    // Whether it is exposed at all (null: always).
    bool (*shown)(const Figures&) = nullptr;
    // The value of an entry's sample "name{labels} value"; none: no sample for it.
    std::optional<std::string> (*entryValue)(const Figures&, std::size_t row) = nullptr;
    // Every line of an entry's samples, when they are more than one.
    void (*entryLines)(std::string& out, const Figures&, std::size_t row) = nullptr;
    // The value of the family's one sample "name value".
    std::string (*value)(const Figures&) = nullptr;
    // Every line of samples that are not an entry's.
    void (*lines)(std::string& out, const Figures&) = nullptr;
};

const Family kFamilies[] = {
    {.name = "pulsewick_probe_success",
     .type = "gauge",
     .help = "Whether the entry answered its last probe (1) or not (0).",
     .entryValue = [](const Figures& f, std::size_t row) -> std::optional<std::string> {
         if (!f.entries[row].probed)
             return std::nullopt;
         return f.entries[row].answered ? "1" : "0";
     }},
    // Only answered probes have a round trip; a missing sample says "no answer" better than NaN.
    {.name = "pulsewick_probe_round_trip_seconds",
     .type = "gauge",
     .help = "Round-trip time of the entry's last probe, when it was answered.",
     .entryValue = [](const Figures& f, std::size_t row) -> std::optional<std::string> {
         if (!f.entries[row].probed || f.entries[row].roundTripUs < 0)
             return std::nullopt;
         return Seconds(f.entries[row].roundTripUs);
     }},
    // The link's, as smokeping_prober has them: the attempts sent, the loss and jitter of the last
    // probe, and the histogram.
    {.name = "pulsewick_probe_attempts_total",
     .type = "counter",
     .help = "Echoes or connects sent to the entry.",
     .shown = MeasuresLink,
     .entryValue = [](const Figures& f, std::size_t row) -> std::optional<std::string> {
         const Figures::Link* link = LinkOf(f, row);
         return link ? std::optional(std::to_string(link->attempts)) : std::nullopt;
     }},
    {.name = "pulsewick_probe_loss_ratio",
     .type = "gauge",
     .help = "Share of the attempts of the entry's last probe that got no answer.",
     .shown = MeasuresLink,
     .entryValue = [](const Figures& f, std::size_t row) -> std::optional<std::string> {
         const Figures::Link* link = LinkOf(f, row);
         return link ? std::optional(Number(link->lossRatio)) : std::nullopt;
     }},
    {.name = "pulsewick_probe_jitter_seconds",
     .type = "gauge",
     .help = "Mean absolute difference of consecutive round trips in the entry's last probe.",
     .shown = MeasuresLink,
     .entryValue = [](const Figures& f, std::size_t row) -> std::optional<std::string> {
         const Figures::Link* link = LinkOf(f, row);
         return link && link->jitterUs >= 0 ? std::optional(Seconds(link->jitterUs)) : std::nullopt;
     }},
    {.name = "pulsewick_probe_attempt_round_trip_seconds",
     .type = "histogram",
     .help = "Round trips of the entry's answered attempts.",
     .shown = MeasuresLink,
     .entryLines = AppendRoundTrips},
    // Only what is set: no series without parents, mutes or an uplink.
    {.name = "pulsewick_probe_unreachable",
     .type = "gauge",
     .help = "Whether the entry failed while its parent (label parent) failed too (1) or not (0).",
     .shown = [](const Figures& f) { return f.parents != nullptr; },
     .entryLines = AppendUnreachable},
    {.name = "pulsewick_muted_until_timestamp_seconds",
     .type = "gauge",
     .help = "Until when a mute holds the entry's alerts, in seconds since the epoch (+Inf: until resumed).",
     .shown = [](const Figures& f) { return f.mutedRows > 0; },
     .entryValue = [](const Figures& f, std::size_t row) -> std::optional<std::string> {
         const Figures::Hold* hold = HoldOf(f, row);
         if (hold == nullptr || hold->mutedUntil == 0)
             return std::nullopt;
         return hold->mutedUntil == MuteState::kUntilResumed ? "+Inf" : std::to_string(hold->mutedUntil);
     }},
    {.name = "pulsewick_uplink_up",
     .type = "gauge",
     .help = "Whether the monitor's uplink answered its echo in the last pass (1) or not (0: cut off).",
     .shown = [](const Figures& f) { return !f.uplink.empty() && f.uplinkAnswered.has_value(); },
     .lines =
         [](std::string& out, const Figures& f) {
             out += "pulsewick_uplink_up{uplink=\"" + f.uplink + "\"} " + (*f.uplinkAnswered ? "1\n" : "0\n");
         }},
    {.name = "pulsewick_last_pass_duration_seconds",
     .type = "gauge",
     .help = "How long the last finished pass took.",
     .value = [](const Figures& f) { return Number(f.lastDurationSeconds); }},
    {.name = "pulsewick_last_pass_timestamp_seconds",
     .type = "gauge",
     .help = "When the last pass ended, in seconds since the epoch (0 before the first).",
     .value = [](const Figures& f) { return std::to_string(static_cast<long long>(f.lastPassEnd)); }},
    {.name = "pulsewick_period_seconds",
     .type = "gauge",
     .help = "Time from the end of one pass to the start of the next.",
     .value = [](const Figures& f) { return Number(f.periodSeconds); }},
    {.name = "pulsewick_start_time_seconds",
     .type = "gauge",
     .help = "When the monitor started, in seconds since the epoch.",
     .value = [](const Figures& f) { return std::to_string(static_cast<long long>(f.startTime)); }},
    {.name = "pulsewick_passes_total",
     .type = "counter",
     .help = "Passes finished since the monitor started.",
     .value = [](const Figures& f) { return std::to_string(f.passes); }},
    {.name = "pulsewick_failed_passes_total",
     .type = "counter",
     .help = "Passes in which one or more entries did not answer.",
     .value = [](const Figures& f) { return std::to_string(f.failedPasses); }},
    {.name = "pulsewick_alerts_total",
     .type = "counter",
     .help = "Alerts raised after failed passes, by kind and outcome.",
     .lines =
         [](std::string& out, const Figures& f) {
             for (const auto& [key, count] : f.alerts)
                 out += "pulsewick_alerts_total{kind=\"" + key.first + "\",outcome=\"" + key.second + "\"} " +
                        std::to_string(count) + "\n";
         }},
};

void AppendHeader(std::string& out, const Family& family) {
    out += "# HELP ";
    out += family.name;
    out += ' ';
    out += family.help;
    out += "\n# TYPE ";
    out += family.name;
    out += ' ';
    out += family.type;
    out += '\n';
}

} // namespace

MetricsExposition::MetricsExposition(MonitorMetrics::Snapshot figures) : m_figures(std::move(figures)) {}

bool MetricsExposition::RenderNext() {
    if (m_family == std::size(kFamilies))
        return false;
    const Family& family = kFamilies[m_family];
    const Figures& figures = *m_figures;
    const bool perEntry = family.entryValue != nullptr || family.entryLines != nullptr;
    if (family.shown != nullptr && !family.shown(figures)) {
        // Left out whole.
    } else if (!m_headerDone) {
        AppendHeader(m_piece, family);
        m_headerDone = true;
        return true;
    } else if (perEntry && m_row < figures.entries.size()) {
        const std::size_t row = m_row++;
        if (family.entryLines != nullptr) {
            family.entryLines(m_piece, figures, row);
        } else if (const std::optional<std::string> value = family.entryValue(figures, row)) {
            m_piece += family.name;
            m_piece += (*figures.labels)[row];
            m_piece += ' ';
            m_piece += *value;
            m_piece += '\n';
        }
        return true;
    } else if (family.value != nullptr) {
        m_piece += family.name;
        m_piece += ' ';
        m_piece += family.value(figures);
        m_piece += '\n';
    } else if (family.lines != nullptr) {
        family.lines(m_piece, figures);
    }
    ++m_family;
    m_headerDone = false;
    m_row = 0;
    return true;
}

std::size_t MetricsExposition::Read(char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        if (m_read == m_piece.size()) {
            m_piece.clear();
            m_read = 0;
            if (!RenderNext())
                break;
            continue;
        }
        const std::size_t n = std::min(size - done, m_piece.size() - m_read);
        std::memcpy(buffer + done, m_piece.data() + m_read, n);
        done += n;
        m_read += n;
    }
    return done;
}

std::string MetricsExposition::ReadAll() {
    std::string text = m_piece.substr(m_read);
    m_piece.clear();
    m_read = 0;
    while (RenderNext()) {
        text += m_piece;
        m_piece.clear();
    }
    return text;
}

std::size_t MetricsExposition::Size(const MonitorMetrics::Snapshot& figures) {
    if (!figures->textSize) {
        MetricsExposition text(figures);
        std::size_t size = 0;
        while (text.RenderNext()) {
            size += text.m_piece.size();
            text.m_piece.clear();
        }
        figures->textSize = size;
    }
    return *figures->textSize;
}

} // namespace cli
