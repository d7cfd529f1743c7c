#pragma once

#include "TempDir.h"

#include <QProcess>
#include <QStandardPaths>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace testsupport {

// A private sound server for one test or benchmark process: its own runtime folder and socket, and a
// sink that plays into nothing.
class PrivateSoundServer {
public:
    PrivateSoundServer() {
        const QString program = QStandardPaths::findExecutable("pulseaudio");
        if (program.isEmpty())
            return;
        const QString dir = QString::fromStdString(m_dir.path().string());
        m_socket = m_dir.file("native");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", dir);
        env.insert("HOME", dir);
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.setStandardOutputFile(QProcess::nullDevice());
        m_server.start(program, {"-n", "--daemonize=no", "--exit-idle-time=-1", "--log-level=error", "-L",
                                 "module-null-sink sink_name=pulsewick_test", "-L",
                                 "module-native-protocol-unix auth-anonymous=1 socket=" +
                                     QString::fromStdString(m_socket.string())});
        if (!m_server.waitForStarted(10000))
            return;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        // The socket file appears at bind, before the server listens: wait until it takes a connection.
        while (!AcceptsConnections() && std::chrono::steady_clock::now() < end && m_server.state() == QProcess::Running)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~PrivateSoundServer() {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool IsUp() const { return m_server.state() == QProcess::Running && AcceptsConnections(); }
    std::string Address() const { return "unix:" + m_socket.string(); }

private:
    bool AcceptsConnections() const {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string path = m_socket.string();
        if (path.empty() || path.size() >= sizeof addr.sun_path)
            return false;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
    }

    testsupport::TempDir m_dir;
    std::filesystem::path m_socket;
    QProcess m_server;
};

} // namespace testsupport
