#pragma once

#include "HostAddress.h"
#include "UniqueFd.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The name lookups of one pass, each on a helper thread of its own up to kMaxHelpers, so that
// all the names of a list are under way together and a name server that never answers costs
// the pass one resolver time-out, not one per handful of names. The helpers call the system
// resolver (getaddrinfo), so names resolve exactly as for every other program here
// (/etc/hosts, NSS modules, the configured name servers), and a resolver that cannot be
// interrupted is simply left to finish: an abandoned batch drops what is still queued, and
// each helper ends after the lookup in hand.
class NameLookupBatch : public std::enable_shared_from_this<NameLookupBatch> {
public:
    // Each lookup under way holds a thread and a socket or two of the resolver's.
    static constexpr std::size_t kMaxHelpers = 256;

    using Result = std::pair<std::size_t, std::optional<HostAddress>>;

    // Null when no wake-up descriptor can be had.
    static std::shared_ptr<NameLookupBatch> Create();

    // Readable while results wait for TakeResults.
    int NotifyFd() const { return m_notify.Get(); }

    // Queues a lookup of name; its result comes back under key. Returns false when no helper
    // thread could be started at all (then nothing will come back for it).
    bool Submit(std::size_t key, std::string name);

    std::vector<Result> TakeResults();

    // The pass no longer wants anything: queued names are dropped.
    void Abandon();

    // For the constructor's sake only; use Create.
    struct Token {};
    explicit NameLookupBatch(Token, int notifyFd) : m_notify(notifyFd) {}

private:
    void HelperLoop();

    const UniqueFd m_notify;
    std::mutex m_mutex;
    std::deque<std::pair<std::size_t, std::string>> m_queue;
    std::vector<Result> m_results;
    std::size_t m_helpers = 0; // helper threads still running
    std::size_t m_busy = 0;    // of them, those in a lookup
    bool m_abandoned = false;
};

// Abandons a batch when the pass ends, also while a stopped worker unwinds.
struct NameLookupBatchGuard {
    std::shared_ptr<NameLookupBatch> batch;
    ~NameLookupBatchGuard() {
        if (batch)
            batch->Abandon();
    }
};
