#pragma once

#include <functional>
#include <optional>
#include <string>

namespace testsupport {

// Runs body in a network namespace of its own that holds nothing but an up loopback device:
// a name lookup inside fails at once (the name server is unreachable) and no packet can leave
// the machine, whatever body does. Returns what body returned, or nothing when no namespace
// can be made here (then *reason says why and the test should skip).
//
// With CAP_SYS_ADMIN, body runs on a thread of this process (so it may use the test's
// objects); otherwise in a forked child inside a new user namespace, where only the returned
// text comes back.
std::optional<std::string> RunInPrivateNetwork(const std::function<std::string()>& body, std::string* reason = nullptr);

// While it lives, the calling thread (and every thread it starts) is in a new network
// namespace with only loopback, up. Needs CAP_SYS_ADMIN; check IsActive() and skip otherwise.
class ScopedPrivateNetwork {
public:
    ScopedPrivateNetwork();
    ~ScopedPrivateNetwork();
    ScopedPrivateNetwork(const ScopedPrivateNetwork&) = delete;
    ScopedPrivateNetwork& operator=(const ScopedPrivateNetwork&) = delete;

    bool IsActive() const { return m_active; }

private:
    int m_previous = -1;
    bool m_active = false;
};

// Runs body on a thread of its own in a private network (as ScopedPrivateNetwork) that sees
// hostsText as /etc/hosts, through a mount namespace of its own; threads that body starts see
// the same. Returns false when that cannot be made here (then *reason says why). Needs
// CAP_SYS_ADMIN.
bool RunWithHostsFile(const std::string& hostsText, const std::function<void()>& body, std::string* reason = nullptr);

} // namespace testsupport
