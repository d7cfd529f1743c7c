#include "ProbeFailure.h"

#include <cerrno>

const char* ProbeFailureText(ProbeFailure failure) {
    switch (failure) {
    case ProbeFailure::unknown:
        return "";
    case ProbeFailure::refused:
        return "connection refused";
    case ProbeFailure::timedOut:
    case ProbeFailure::tcpTimeLimit: // ProbeReasonText names the limit
        return "no answer within the time limit";
    case ProbeFailure::hostNotFound:
        return "host name not found";
    case ProbeFailure::unreachable:
        return "network unreachable";
    case ProbeFailure::noPermission:
        return "no permission for ICMP";
    case ProbeFailure::badPort:
        return "port out of range";
    case ProbeFailure::blocked:
        return "blocked by a firewall or security policy";
    }
    return "";
}

ProbeFailure ProbeFailureFromErrno(int error) {
    switch (error) {
    case ECONNREFUSED:
        return ProbeFailure::refused;
    case ETIMEDOUT:
        return ProbeFailure::timedOut;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
        return ProbeFailure::unreachable;
    // The socket is ours already: a refusal now comes from a packet filter (EPERM) or a
    // security module (EACCES), not from a missing privilege for ICMP sockets.
    case EPERM:
    case EACCES:
        return ProbeFailure::blocked;
    default:
        return ProbeFailure::unknown;
    }
}
