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
    return summary.longestOutageProbes == 1
               ? QStringLiteral("%1 (1 failed probe)").arg(length)
               : QStringLiteral("%1 (%2 failed probes)").arg(length).arg(summary.longestOutageProbes);
}

void EntryHistory::DropOldest(const CItem* entry, Kept& kept) {
    m_byLength.erase({kept.samples.size(), entry});
    kept.samples.pop_front();
    ++kept.dropped;
    --m_total;
    m_byLength.insert({kept.samples.size(), entry});
}

void EntryHistory::Add(const CItem* entry, const HistorySample& sample) {
    Kept& kept = m_entries[entry];
    if (kept.samples.size() == kCapacity)
        DropOldest(entry, kept);
    m_byLength.erase({kept.samples.size(), entry});
    kept.samples.push_back(sample);
    ++m_total;
    m_byLength.insert({kept.samples.size(), entry});
    if (m_total > kMaxSamples) {
        const CItem* longest = m_byLength.rbegin()->second;
        DropOldest(longest, m_entries[longest]);
    }
}

EntryRecord EntryHistory::Record(const CItem* entry) const {
    const auto it = m_entries.find(entry);
    if (it == m_entries.end())
        return {};
    return {{it->second.samples.begin(), it->second.samples.end()}, it->second.dropped};
}

std::vector<HistorySample> EntryHistory::Samples(const CItem* entry) const {
    return Record(entry).samples;
}

void EntryHistory::KeepOnly(const std::vector<const CItem*>& keep) {
    const std::unordered_set<const CItem*> kept(keep.begin(), keep.end());
    std::erase_if(m_entries, [&](const auto& pair) {
        if (kept.contains(pair.first))
            return false;
        m_byLength.erase({pair.second.samples.size(), pair.first});
        m_total -= pair.second.samples.size();
        return true;
    });
}
