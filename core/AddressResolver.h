#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>

// Turns an entry's address text into an IPv4 address (network byte order): dotted text as
// inet_addr takes it, anything else through the system's resolver, first address.
//
// The resolver cannot be interrupted, so it runs on a detached helper thread while the caller
// waits through AbortablePoll: a stopped worker leaves at once, and the abandoned lookup finishes
// in the background and frees everything it holds.
std::optional<in_addr_t> ResolveIPv4(const std::string& address);

// Dotted text as inet_addr takes it, without any lookup; nothing for anything else.
std::optional<in_addr_t> ParseDottedIPv4(const std::string& address);

// The system resolver's first IPv4 address for name, blocking the caller for as long as it takes.
std::optional<in_addr_t> LookUpIPv4(const std::string& name);
