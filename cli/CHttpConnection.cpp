#include "CHttpConnection.h"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

namespace cli {

namespace {

constexpr std::size_t kReadChunk = 4096;

} // namespace

CHttpConnection::CHttpConnection(UniqueFd socket, Limits limits, const Responder& respond,
                                 std::function<void(CHttpConnection*)> onEnded)
    : m_socket(std::move(socket)), m_maxBuffered(limits.maxBuffered), m_respond(respond), m_onEnded(std::move(onEnded)),
      m_readNotifier(std::make_unique<QSocketNotifier>(m_socket.Get(), QSocketNotifier::Read)),
      m_writeNotifier(std::make_unique<QSocketNotifier>(m_socket.Get(), QSocketNotifier::Write)) {
    m_writeNotifier->setEnabled(false);
    m_lifetime.setSingleShot(true);
    connect(&m_lifetime, &QTimer::timeout, this, [this] { Drop(); });
    m_lifetime.start(limits.lifetimeMs);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, [this] { ReadReady(); });
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, [this] {
        if (Flush())
            Serve();
    });
}

CHttpConnection::~CHttpConnection() {
    // The notifiers go before the descriptor they watch is closed.
    m_readNotifier.reset();
    m_writeNotifier.reset();
}

void CHttpConnection::Drop() {
    if (!m_socket)
        return;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    m_lifetime.stop();
    m_socket.Reset();
    m_input = std::string();
    m_head = std::string();
    m_body = std::string();
    m_onEnded(this);
    // Not deleted here: this may run inside one of its own notifiers' signals.
    deleteLater();
}

void CHttpConnection::ReadReady() {
    bool moved = false;
    for (;;) {
        char buffer[kReadChunk];
        // One byte beyond the limit is enough to know that it was passed.
        const std::size_t room = std::min(sizeof buffer, m_maxBuffered + 1 - m_input.size());
        const ssize_t n = ::recv(m_socket.Get(), buffer, room, 0);
        if (n > 0) {
            moved = true;
            m_input.append(buffer, static_cast<std::size_t>(n));
            if (m_input.size() > m_maxBuffered) {
                Drop();
                return;
            }
            continue;
        }
        if (n == 0) {
            m_peerDone = true; // a half-closed client still gets the answers to what it sent
            m_readNotifier->setEnabled(false);
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        Drop();
        return;
    }
    if (moved)
        m_lastActive = std::chrono::steady_clock::now();
    Serve();
}

void CHttpConnection::Serve() {
    while (IsOpen() && m_head.empty()) {
        const HttpParse parse = ParseHttpRequest(m_input);
        if (parse.kind == HttpParse::Kind::incomplete) {
            if (m_peerDone)
                Finish();
            return;
        }
        if (parse.kind == HttpParse::Kind::bad) {
            m_head = FormatHttpResponseHead(parse.error, true);
            m_closeAfterOutput = true;
            m_input.clear();
        } else {
            HttpResponse response = m_respond(parse.request);
            m_closeAfterOutput = !parse.request.keepAlive;
            m_head = FormatHttpResponseHead(response, m_closeAfterOutput);
            if (parse.request.method != "HEAD")
                m_body = std::move(response.body);
            m_input.erase(0, parse.consumed);
        }
        m_written = 0;
        if (!Flush())
            return;
    }
}

bool CHttpConnection::Flush() {
    // Head and body in one call: no copy of a long body, and no short packet for the head alone.
    while (m_written < m_head.size() + m_body.size()) {
        const std::size_t inHead = std::min(m_written, m_head.size());
        iovec parts[2] = {{m_head.data() + inHead, m_head.size() - inHead},
                          {m_body.data() + (m_written - inHead), m_body.size() - (m_written - inHead)}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        const ssize_t n = ::sendmsg(m_socket.Get(), &message, MSG_NOSIGNAL);
        if (n > 0) {
            m_written += static_cast<std::size_t>(n);
            m_lastActive = std::chrono::steady_clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Nothing more is read until the client has taken this answer.
            m_readNotifier->setEnabled(false);
            m_writeNotifier->setEnabled(true);
            return false;
        }
        Drop();
        return false;
    }
    m_head = std::string();
    m_body = std::string(); // a scrape of a long list is megabytes: give them back
    m_written = 0;
    m_writeNotifier->setEnabled(false);
    if (m_closeAfterOutput) {
        Finish();
        return false;
    }
    if (!m_peerDone)
        m_readNotifier->setEnabled(true);
    return true;
}

void CHttpConnection::Finish() {
    // An orderly end rather than a reset, so the client reads the whole answer.
    ::shutdown(m_socket.Get(), SHUT_WR);
    Drop();
}

} // namespace cli
