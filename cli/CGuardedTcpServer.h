#pragma once

#include "CHttpConnection.h"
#include "UniqueFd.h"

#include <QObject>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;

namespace cli {

struct ListenAddress;

// A listening HTTP socket that keeps the metrics endpoint alive under abuse: at most
// kMaxConnections at once (a new one takes the place of the one idle the longest), at most kMaxRequestBytes of requests
// waiting in one connection, and no connection older than kConnectionLifetimeMs, so neither a burst nor clients that
// send slowly, send too much or never read can use up descriptors or memory.
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
    static constexpr std::size_t kMaxRequestBytes = 16 * 1024;
    static constexpr int kConnectionLifetimeMs = 10 * 1000;
    static constexpr int kListenBacklog = 1024;
    static constexpr std::size_t kReserveDescriptors = 4;
    static constexpr int kAcceptRetryMs = 100;
    // Accepts per turn of the event loop, so requests on accepted connections are read in between.
    static constexpr int kAcceptsPerTurn = 32;

    explicit CGuardedTcpServer(CHttpConnection::Responder respond);
    ~CGuardedTcpServer() override;

    // Binds and listens; an error text, or nothing once it listens.
    std::optional<std::string> Listen(const ListenAddress& address);
    std::uint16_t Port() const { return m_port; }

private:
    void AcceptReady();
    void Adopt(UniqueFd socket);
    // Pushes out the connection idle the longest; false when there is none.
    bool EvictIdlest();
    // Leaves new connections waiting in the listening queue for kAcceptRetryMs.
    void PauseAccepting();
    void TopUpReserve();
    void Ended(CHttpConnection* connection);

    CHttpConnection::Responder m_respond;
    UniqueFd m_listener;
    std::uint16_t m_port = 0;
    std::unique_ptr<QSocketNotifier> m_acceptNotifier; // goes before m_listener is closed
    QTimer m_acceptRetry;
    // The open connections, children of this object.
    std::vector<CHttpConnection*> m_connections;
    std::vector<UniqueFd> m_reserve;
};

} // namespace cli
