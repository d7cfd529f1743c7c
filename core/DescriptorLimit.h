#pragma once

#include <cstddef>
#include <optional>
#include <sys/resource.h>

// Raises the soft limit of open descriptors toward the hard one, once per process, so that a
// pass can keep many probes in flight. Harmless to call again.
void RaiseDescriptorLimit();

// The limit of open descriptors as it was before RaiseDescriptorLimit raised it (the current
// one when it has not), for programs this one starts: they get what they would have had.
// Empty when the limit cannot be read.
std::optional<rlimit> StartingDescriptorLimit();

// How many more descriptors this process may open now under its soft limit, less `reserve`
// kept for everything else (log lines, name lookups, the window). Never below 0.
std::size_t SpareDescriptors(std::size_t reserve);
