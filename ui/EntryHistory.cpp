#include "EntryHistory.h"

#include <algorithm>
#include <unordered_set>

namespace {
constexpr std::int64_t kMsPerSecond = 1000;
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr double kPercent = 100.0;
} // namespace

HistorySummary Summarise(const std::vector<HistorySample>& samples) {
    HistorySummary summary;
    summary.probes = samples.size();
    std::size_t runStart = 0;
    std::size_t runLength = 0;
    auto closeRun = [&](std::int64_t endMs) {
        if (runLength == 0)
            return;
        const std::int64_t length = endMs - samples[runStart].whenMs;
        if (length > summary.longestOutageMs ||
            (length == summary.longestOutageMs && runLength > summary.longestOutageProbes)) {
            summary.longestOutageMs = length;
            summary.longestOutageProbes = runLength;
        }
        runLength = 0;
    };
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].answered) {
            ++summary.answered;
            closeRun(samples[i].whenMs);
        } else if (runLength++ == 0) {
            runStart = i;
        }
    }
    if (!samples.empty())
        closeRun(samples.back().whenMs);
    if (summary.probes > 0)
        summary.availabilityPercent =
            kPercent * static_cast<double>(summary.answered) / static_cast<double>(summary.probes);
    return summary;
}

QString OutageText(const HistorySummary& summary) {
    if (summary.longestOutageProbes == 0)
        return QStringLiteral("none");
    const std::int64_t seconds = summary.longestOutageMs / kMsPerSecond;
    QString length;
    if (seconds >= kSecondsPerHour)
        length = QStringLiteral("%1 h %2 min")
                     .arg(seconds / kSecondsPerHour)
                     .arg(seconds % kSecondsPerHour / kSecondsPerMinute);
    else if (seconds >= kSecondsPerMinute)
        length = QStringLiteral("%1 min %2 s").arg(seconds / kSecondsPerMinute).arg(seconds % kSecondsPerMinute);
    else
        length = QStringLiteral("%1 s").arg(seconds);
    return QStringLiteral("%1 (%2 failed probes)").arg(length).arg(summary.longestOutageProbes);
}

void EntryHistory::Add(const CItem* entry, const HistorySample& sample) {
    std::deque<HistorySample>& samples = m_samples[entry];
    if (samples.size() == kCapacity)
        samples.pop_front();
    samples.push_back(sample);
}

std::vector<HistorySample> EntryHistory::Samples(const CItem* entry) const {
    const auto it = m_samples.find(entry);
    if (it == m_samples.end())
        return {};
    return {it->second.begin(), it->second.end()};
}

void EntryHistory::KeepOnly(const std::vector<const CItem*>& keep) {
    const std::unordered_set<const CItem*> kept(keep.begin(), keep.end());
    std::erase_if(m_samples, [&kept](const auto& pair) { return !kept.contains(pair.first); });
}
