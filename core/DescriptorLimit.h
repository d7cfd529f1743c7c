#pragma once

#include <cstddef>

// Raises the soft limit of open descriptors toward the hard one, once per process, so that a
// pass can keep many probes in flight. Harmless to call again.
void RaiseDescriptorLimit();

// How many more descriptors this process may open now under its soft limit, less `reserve`
// kept for everything else (log lines, name lookups, the window). Never below 0.
std::size_t SpareDescriptors(std::size_t reserve);
