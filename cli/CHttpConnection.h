#pragma once

#include "HttpMessage.h"
#include "UniqueFd.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace cli {

// One accepted connection of the metrics endpoint: reads requests and answers them in order, one
// at a time, until Drop() or the end of its lifetime. While an answer is still being written
// nothing more is read, so a client that sends requests without reading the answers holds one
// answer and at most maxBuffered bytes of requests.
class CHttpConnection final : public QObject {
public:
    using Responder = std::function<HttpResponse(const HttpRequest&)>;

    struct Limits {
        std::size_t maxBuffered; // bytes of requests read and not yet answered
        int lifetimeMs;          // then the connection is dropped, whatever it is doing
    };

    CHttpConnection(UniqueFd socket, Limits limits, const Responder& respond,
                    std::function<void(CHttpConnection*)> onEnded);
    ~CHttpConnection() override;

    // Closes the socket at once (pending bytes are thrown away) and deletes this object later.
    void Drop();
    bool IsOpen() const { return m_socket.IsValid(); }
    // When it was accepted or last moved bytes either way.
    std::chrono::steady_clock::time_point LastActive() const { return m_lastActive; }

private:
    void ReadReady();
    // Answers the requests read so far, as long as each answer goes out at once.
    void Serve();
    // Writes what it can of the pending answer; false when the connection ended meanwhile.
    bool Flush();
    // Ends the connection once the answer is out.
    void Finish();

    UniqueFd m_socket;
    std::size_t m_maxBuffered;
    const Responder& m_respond;
    std::function<void(CHttpConnection*)> m_onEnded;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    // Its own, not a single-shot one of Qt's, which would outlive a dropped connection by up to the
    // lifetime: under a reconnecting flood that is tens of thousands of timers.
    QTimer m_lifetime;
    std::string m_input;
    // The answer being written: its head, then its body, written from m_written on.
    std::string m_head;
    std::string m_body;
    std::size_t m_written = 0;
    bool m_closeAfterOutput = false;
    bool m_peerDone = false;
    std::chrono::steady_clock::time_point m_lastActive = std::chrono::steady_clock::now();
};

} // namespace cli
