#pragma once

#include "HostAddress.h"

#include <netinet/in.h>

#include <optional>
#include <string>

// Turns an entry's address text into the address to probe: dotted IPv4 text as inet_addr takes
// it, an IPv6 literal, anything else through the system's resolver (LookUpHost).
//
// The resolver cannot be interrupted, so it runs on a detached helper thread while the caller
// waits through AbortablePoll: a stopped worker leaves at once, and the abandoned lookup finishes
// in the background and frees everything it holds.
std::optional<HostAddress> ResolveHost(const std::string& address);

// Dotted IPv4 text or an IPv6 literal, without any lookup; nothing for anything else.
std::optional<HostAddress> ParseAddressLiteral(const std::string& address);

// Dotted text as inet_addr takes it, without any lookup; nothing for anything else.
std::optional<in_addr_t> ParseDottedIPv4(const std::string& address);

// An IPv6 address in its text form, with or without [brackets] around it, optionally with a
// %zone (an interface name or number) after it; nothing for anything else.
std::optional<HostAddress> ParseIPv6Literal(const std::string& address);

// Text that may go to the resolver as a host name: not empty, and without a colon, which only
// IPv6 text has (text that ParseIPv6Literal refused is wrong, not a name).
bool IsLookupName(const std::string& address);

// The system resolver's first IPv4 address for name; only when it has none at all, its first
// IPv6 address. Blocks the caller for as long as it takes. On failure *error (when given) gets
// the resolver's code (EAI_*; with EAI_SYSTEM, errno tells the rest).
std::optional<HostAddress> LookUpHost(const std::string& name, int* error = nullptr);
