#pragma once

#include <optional>
#include <string>

// Whether text names one host as a probe can reach it: an IPv4 or IPv6 address (with a zone), or
// a host name of letters, digits, '-' and '_' in dot-separated labels. Gives why not, or nothing.
std::optional<std::string> WhyNotHostName(const std::string& text);
