#pragma once

#include "UniqueFd.h"

#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <vector>

class QSocketNotifier;

namespace cli {

// A listening socket that keeps the metrics endpoint alive under abuse: at most
// kMaxConnections at once, at most kMaxRequestBytes read from one connection, and no
// connection older than kConnectionLifetimeMs, so neither a burst nor clients that send slowly,
// send too much or never read can use up descriptors or memory.
//
// It accepts by itself rather than through QTcpServer, to stay usable when the process runs out
// of descriptors (a pass may hold nearly all of them): it keeps kReserveDescriptors of its own,
// opened before any pass starts, so a pass never counts them as free. When an accept fails for
// want of a descriptor, the connection idle the longest is pushed out, or else a reserve
// descriptor is given up, and the accept is tried again; when neither is left, accepting pauses
// for kAcceptRetryMs rather than spinning on a listening socket that stays readable.
class CGuardedTcpServer final : public QTcpServer {
public:
    static constexpr int kMaxConnections = 256;
    static constexpr qint64 kMaxRequestBytes = 16 * 1024;
    static constexpr int kConnectionLifetimeMs = 10 * 1000;
    static constexpr int kListenBacklog = 1024;
    static constexpr std::size_t kReserveDescriptors = 4;
    static constexpr int kAcceptRetryMs = 100;
    // Accepts per turn of the event loop, so requests on accepted connections are read in between.
    static constexpr int kAcceptsPerTurn = 32;

    explicit CGuardedTcpServer(QObject* parent = nullptr);
    ~CGuardedTcpServer() override;

    // QTcpServer::listen, then accepting is taken over.
    bool Listen(const QHostAddress& address, quint16 port);

private:
    void AcceptReady();
    void Adopt(int descriptor);
    // Pushes out the connection idle the longest; false when there is none.
    bool EvictIdlest();
    void TopUpReserve();
    void Touch(QTcpSocket* socket);

    // The one idle longest first; null once gone. Held as QObject: a socket's signals can still
    // come while it is being destroyed, when it is no longer a QTcpSocket.
    QList<QPointer<QObject>> m_connections;
    std::vector<UniqueFd> m_reserve;
    std::unique_ptr<QSocketNotifier> m_acceptNotifier;
    QTimer m_acceptRetry;
};

} // namespace cli
