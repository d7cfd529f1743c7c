#include "EntryHistory.h"

#include <algorithm>
#include <unordered_set>

namespace {
constexpr std::int64_t kMsPerSecond = 1000;
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr double kPercent = 100.0;

// "2 h 5 min", "3 min 20 s", "45 s".
QString DurationText(std::int64_t ms) {
    const std::int64_t seconds = ms / kMsPerSecond;
    if (seconds >= kSecondsPerHour)
        return QStringLiteral("%1 h %2 min")
            .arg(seconds / kSecondsPerHour)
            .arg(seconds % kSecondsPerHour / kSecondsPerMinute);
    if (seconds >= kSecondsPerMinute)
        return QStringLiteral("%1 min %2 s").arg(seconds / kSecondsPerMinute).arg(seconds % kSecondsPerMinute);
    return QStringLiteral("%1 s").arg(seconds);
}
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
        const HistorySample& sample = samples[i];
        summary.severalAttempts = summary.severalAttempts || sample.sent > 1;
        summary.attemptsSent += sample.sent;
        summary.attemptsLost += sample.lost;
        if (sample.degraded) {
            ++summary.degradedProbes;
            if (i + 1 < samples.size())
                summary.degradedMs += samples[i + 1].whenMs - sample.whenMs;
        }
        if (sample.answered) {
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
    const QString length = DurationText(summary.longestOutageMs);
    return summary.longestOutageProbes == 1
               ? QStringLiteral("%1 (1 failed probe)").arg(length)
               : QStringLiteral("%1 (%2 failed probes)").arg(length).arg(summary.longestOutageProbes);
}

QString AttemptsLostText(const HistorySummary& summary) {
    if (!summary.severalAttempts)
        return {};
    return QStringLiteral("%1 % of %2 attempts lost")
        .arg(kPercent * static_cast<double>(summary.attemptsLost) / static_cast<double>(summary.attemptsSent), 0, 'f',
             1)
        .arg(summary.attemptsSent);
}

QString DegradedText(const HistorySummary& summary) {
    if (summary.degradedProbes == 0)
        return {};
    const QString length = DurationText(summary.degradedMs);
    return summary.degradedProbes == 1
               ? QStringLiteral("degraded %1 (1 probe)").arg(length)
               : QStringLiteral("degraded %1 (%2 probes)").arg(length).arg(summary.degradedProbes);
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
