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

// A list of `entries` TCP entries on 127.0.0.1:port, saved in dir; its path.
std::string MakeList(const testsupport::TempDir& dir, std::size_t entries, std::uint16_t port);

} // namespace benchsupport
