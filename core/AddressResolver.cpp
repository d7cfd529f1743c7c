#include "AddressResolver.h"

#include "AbortableThread.h"
#include "UniqueFd.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

std::optional<in_addr_t> LookUpIPv4(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address instead of one per socket type
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr)
            return reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
    }
    return std::nullopt;
}

std::optional<in_addr_t> ParseDottedIPv4(const std::string& address) {
    const in_addr_t dotted = ::inet_addr(address.c_str());
    if (dotted == INADDR_NONE)
        return std::nullopt;
    return dotted;
}

namespace {

// Shared by the waiting caller and the helper thread; whichever lets go last frees it.
struct Lookup {
    explicit Lookup(std::string host) : name(std::move(host)), done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    const std::string name;
    const UniqueFd done;
    std::mutex mutex;
    std::optional<in_addr_t> result;
};

} // namespace

std::optional<in_addr_t> ResolveIPv4(const std::string& address) {
    if (const auto dotted = ParseDottedIPv4(address))
        return dotted;
    if (address.empty())
        return std::nullopt;

    auto lookup = std::make_shared<Lookup>(address);
    if (!lookup->done)
        return LookUpIPv4(address);
    try {
        std::thread([lookup] {
            auto found = LookUpIPv4(lookup->name);
            {
                std::lock_guard<std::mutex> lock(lookup->mutex);
                lookup->result = found;
            }
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(lookup->done.Get(), &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: look up here, without the chance to abandon the wait.
        return LookUpIPv4(address);
    }

    pollfd wait{lookup->done.Get(), POLLIN, 0};
    if (AbortablePoll(&wait, 1, -1) <= 0)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(lookup->mutex);
    return lookup->result;
}
