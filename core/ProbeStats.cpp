#include "ProbeStats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Three significant figures or whole milliseconds, never an exponent: "0.045", "6.30", "212", "1234".
std::string Milliseconds(std::int64_t us) {
    const double ms = static_cast<double>(us) / 1000.0;
    const int decimals = ms >= 100 ? 0 : ms >= 10 ? 1 : ms >= 1 ? 2 : 3;
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, ms);
    return text;
}

} // namespace

ProbeStats SummariseAttempts(const std::vector<std::int64_t>& attemptsUs) {
    ProbeStats stats;
    stats.sent = static_cast<std::int32_t>(attemptsUs.size());
    std::vector<std::int64_t> answered;
    std::int64_t spread = 0;
    for (const std::int64_t us : attemptsUs) {
        if (us < 0)
            continue;
        if (!answered.empty())
            spread += std::llabs(us - answered.back());
        answered.push_back(us);
    }
    stats.received = static_cast<std::int32_t>(answered.size());
    if (answered.empty())
        return stats;
    if (answered.size() > 1)
        stats.jitterUs = spread / static_cast<std::int64_t>(answered.size() - 1);
    std::sort(answered.begin(), answered.end());
    const std::size_t middle = answered.size() / 2;
    stats.minUs = answered.front();
    stats.maxUs = answered.back();
    stats.medianUs = answered.size() % 2 ? answered[middle] : (answered[middle - 1] + answered[middle]) / 2;
    return stats;
}

bool IsDegraded(int result, const ProbeStats& stats, const ProbeSettings& settings) {
    if (!result || stats.sent == 0)
        return false;
    const bool lossy =
        settings.degradedLossPercent != ProbeSettings::kOff &&
        std::int64_t{stats.sent - stats.received} * 100 > std::int64_t{settings.degradedLossPercent} * stats.sent;
    const bool slow =
        settings.degradedRttMs != ProbeSettings::kOff && stats.medianUs > std::int64_t{settings.degradedRttMs} * 1000;
    return lossy || slow;
}

std::string LossText(const ProbeStats& stats) {
    return std::to_string(std::lround(stats.LossRatio() * 100.0)) + " % loss";
}

std::string ProbeReasonText(int result, ProbeFailure failure, const ProbeStats& stats, bool degraded) {
    if (!result) {
        if (failure == ProbeFailure::tcpTimeLimit && stats.timeLimitS > 0)
            return "no answer within " + std::to_string(stats.timeLimitS) + " s";
        return ProbeFailureText(failure);
    }
    if (!degraded)
        return {};
    return "degraded: " + LossText(stats) + ", median " + Milliseconds(stats.medianUs) + " ms";
}
