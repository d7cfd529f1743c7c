#pragma once

#include "UniqueFd.h"

#include <string>
#include <vector>

namespace cli {

// The listening sockets systemd opened for this service (socket activation), taken over so that
// nothing the monitor starts inherits them.
struct SystemdSockets {
    std::vector<UniqueFd> sockets; // none when the service was not started with any
    std::string error;             // a passed descriptor that is no listening TCP socket
};

SystemdSockets TakeSystemdSockets();

} // namespace cli
