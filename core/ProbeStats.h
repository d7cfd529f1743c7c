#pragma once

#include "ProbeFailure.h"
#include "ProbeSettings.h"

#include <cstdint>
#include <string>
#include <vector>

// What the attempts (echoes or connects) of one probe found. Round trips in microseconds, -1
// where there is none.
struct ProbeStats {
    std::int32_t sent = 0;
    std::int32_t received = 0;
    std::int64_t minUs = -1;
    std::int64_t medianUs = -1;
    std::int64_t maxUs = -1;
    std::int64_t jitterUs = -1;  // mean absolute difference of consecutive round trips; two answers at least
    std::int32_t timeLimitS = 0; // the TCP time limit, when the probe failed by it

    // The share of attempts that got no answer; 0 before any was sent.
    double LossRatio() const { return sent > 0 ? static_cast<double>(sent - received) / sent : 0.0; }
};

// attemptsUs: each attempt's round trip in the order they were sent, -1 for no answer.
ProbeStats SummariseAttempts(const std::vector<std::int64_t>& attemptsUs);

// An entry that answered, but lost more than the settings allow or answered too slowly.
bool IsDegraded(int result, const ProbeStats& stats, const ProbeSettings& settings);

// "30 % loss": the share of attempts lost, in whole percent.
std::string LossText(const ProbeStats& stats);

// The reason a person reads beside a result: why a probe failed, or how an answered one is
// degraded ("degraded: 30 % loss, median 212 ms"); empty for one that answered well.
std::string ProbeReasonText(int result, ProbeFailure failure, const ProbeStats& stats, bool degraded);
