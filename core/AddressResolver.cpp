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

std::optional<HostAddress> LookUpHost(const std::string& name, int* error) {
    // One query for both families: a name with only an IPv6 address costs no second round trip.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM; // one entry per address instead of one per socket type
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        if (error)
            *error = rc != 0 ? rc : EAI_NONAME;
        return std::nullopt;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
    std::optional<HostAddress> firstIPv6;
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
        const auto address = HostAddress::FromSockaddr(ai->ai_addr, ai->ai_addrlen);
        if (!address)
            continue;
        if (!address->IsIPv6())
            return address;
        if (!firstIPv6)
            firstIPv6 = address;
    }
    if (!firstIPv6 && error)
        *error = EAI_NONAME;
    return firstIPv6;
}

std::optional<in_addr_t> ParseDottedIPv4(const std::string& address) {
    const in_addr_t dotted = ::inet_addr(address.c_str());
    if (dotted == INADDR_NONE)
        return std::nullopt;
    return dotted;
}

std::optional<HostAddress> ParseIPv6Literal(const std::string& address) {
    std::string text = address;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    // Only text with a colon can be an IPv6 literal; anything else must never reach the
    // resolver from here.
    if (text.find(':') == std::string::npos || text.find_first_of("[]") != std::string::npos)
        return std::nullopt;
    // The resolver parses the zone too (an interface name or number), and looks nothing up.
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
    return HostAddress::FromSockaddr(found->ai_addr, found->ai_addrlen);
}

bool IsLookupName(const std::string& address) {
    return !address.empty() && address.find(':') == std::string::npos;
}

std::optional<HostAddress> ParseAddressLiteral(const std::string& address) {
    if (const auto dotted = ParseDottedIPv4(address))
        return HostAddress::IPv4(*dotted);
    return ParseIPv6Literal(address);
}

namespace {

// Shared by the waiting caller and the helper thread; whichever lets go last frees it.
struct Lookup {
    explicit Lookup(std::string host) : name(std::move(host)), done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    const std::string name;
    const UniqueFd done;
    std::mutex mutex;
    std::optional<HostAddress> result;
};

} // namespace

std::optional<HostAddress> ResolveHost(const std::string& address) {
    if (const auto literal = ParseAddressLiteral(address))
        return literal;
    if (!IsLookupName(address))
        return std::nullopt;

    auto lookup = std::make_shared<Lookup>(address);
    if (!lookup->done)
        return LookUpHost(address);
    try {
        std::thread([lookup] {
            auto found = LookUpHost(lookup->name);
            {
                std::lock_guard<std::mutex> lock(lookup->mutex);
                lookup->result = found;
            }
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(lookup->done.Get(), &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: look up here, without the chance to abandon the wait.
        return LookUpHost(address);
    }

    pollfd wait{lookup->done.Get(), POLLIN, 0};
    if (AbortablePoll(&wait, 1, -1) <= 0)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(lookup->mutex);
    return lookup->result;
}
