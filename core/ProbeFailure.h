#pragma once

#include <cstdint>

// Why a probe was not answered. Shown to the user only; never written to a list file.
enum class ProbeFailure : std::uint8_t {
    unknown,      // no answer for a reason the probe could not tell (or not probed yet)
    refused,      // the host answered the connection with a reset
    timedOut,     // no answer within the time limit
    hostNotFound, // the host name could not be looked up
    unreachable,  // no route to the network or the host
    noPermission, // ICMP needs a ping socket or a raw socket, and neither is allowed
    badPort,      // a port outside 0..65535 cannot be attempted
    blocked,      // the system refused to send: a firewall rule or a security module
    tcpTimeLimit, // no connection within the TCP time limit the user set
};

// The reason in words, e.g. "connection refused"; empty for unknown.
const char* ProbeFailureText(ProbeFailure failure);

// The reason a failed socket call gives (errno of connect, sendto or SO_ERROR).
ProbeFailure ProbeFailureFromErrno(int error);
