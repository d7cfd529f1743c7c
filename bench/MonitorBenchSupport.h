#pragma once

#include "TempDir.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace benchsupport {

// A field of /proc/PID/status in MiB: VmRSS, RssAnon (private heap and stacks) or RssFile
// (mapped files, mostly the Qt libraries' pages, shared with every other Qt program).
double StatusMiB(pid_t pid, const std::string& field);

// A non-blocking TCP connection to 127.0.0.1:port under way, with Nagle's algorithm off and, when
// receiveBuffer is not 0, that receive buffer; -1 when no socket could be made.
int ConnectLoopback(std::uint16_t port, int receiveBuffer = 0);

// A list of `entries` TCP entries on 127.0.0.1:port, or with port 0 ICMP entries to as many loopback
// addresses, saved in dir; its path.
std::string MakeList(const testsupport::TempDir& dir, std::size_t entries, std::uint16_t port);

} // namespace benchsupport
