#pragma once

#include <cstdint>
#include <string>

// What one probe found: 1 answered / 0 not, and how long the answer took.
struct ProbeOutcome {
    int result = 0;
    std::int64_t roundTripUs = -1; // microseconds; -1 when not answered
};

// Probes one connection without touching any entry: an ICMP echo when bConnect is 0, else a TCP
// connect to port. Blocks in AbortablePoll only, so a stopped worker leaves at once.
ProbeOutcome ProbeConnection(std::int32_t bConnect, const std::string& address, std::int32_t port);
