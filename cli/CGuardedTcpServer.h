#pragma once

#include "UniqueFd.h"

#include <QObject>
#include <QTimer>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;

namespace cli {

struct ListenAddress;

// What takes the connections a CGuardedTcpServer accepts, and knows how many are open.
class IConnectionSink {
public:
    virtual ~IConnectionSink() = default;
    virtual std::size_t OpenConnections() const = 0;
    // Ends the connection idle the longest and closes its descriptor; false when there is none.
    virtual bool EvictIdlest() = 0;
    virtual void Adopt(UniqueFd socket) = 0;
};

// Listening TCP sockets that keep the metrics endpoint reachable under abuse: at most
// kMaxConnections open at once (a new one takes the place of the one idle the longest), so a
// burst cannot use up descriptors.
//
// It stays usable when the process runs out of descriptors (a pass may hold nearly all of them):
// it keeps kReserveDescriptors of its own, opened before any pass starts, so a pass never counts
// them as free. When an accept fails for want of a descriptor, the connection idle the longest is
// pushed out, or else a reserve descriptor is given up, and the accept is tried again; when
// neither is left, accepting pauses for kAcceptRetryMs rather than spinning on a listening socket
// that stays readable.
class CGuardedTcpServer final : public QObject {
public:
    static constexpr std::size_t kMaxConnections = 256;
    static constexpr int kListenBacklog = 1024;
    static constexpr std::size_t kReserveDescriptors = 4;
    static constexpr int kAcceptRetryMs = 100;
    // Accepts per turn of the event loop, so requests on accepted connections are read in between.
    static constexpr int kAcceptsPerTurn = 32;

    explicit CGuardedTcpServer(IConnectionSink& sink);
    ~CGuardedTcpServer() override;

    // Binds and listens; an error text, or nothing once it listens.
    std::optional<std::string> Listen(const ListenAddress& address);
    // Accepts on a socket that listens already (from systemd).
    void Adopt(UniqueFd listener);
    // Where each socket listens, in the order they were added.
    std::vector<ListenAddress> Addresses() const;

private:
    struct Listener {
        UniqueFd socket;
        std::unique_ptr<QSocketNotifier> notifier; // goes before the socket is closed
    };

    void AcceptReady(int listener);
    // Leaves new connections waiting in the listening queues for kAcceptRetryMs.
    void PauseAccepting();
    void TopUpReserve();

    IConnectionSink& m_sink;
    std::vector<Listener> m_listeners;
    QTimer m_acceptRetry;
    std::vector<UniqueFd> m_reserve;
};

} // namespace cli
