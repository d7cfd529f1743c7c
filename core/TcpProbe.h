#pragma once

#include "Probe.h"

#include <cstdint>
#include <string>

// Opens a TCP connection to address:port and closes it at once; nothing is sent or received.
// There is no time limit beyond the network stack's own: a silent host is given up only when
// the stack gives up the attempt, or when the worker is stopped.
ProbeOutcome ProbeTcp(const std::string& address, std::int32_t port);
