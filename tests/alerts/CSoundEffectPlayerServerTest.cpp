#include "CSoundEffectPlayer.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "WavFile.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

using testsupport::ProcessEventsUntil;
using testsupport::QtTestApp;

// A private sound server for this test process only: its own runtime folder and socket, and a
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
        while (!std::filesystem::exists(m_socket) && std::chrono::steady_clock::now() < end &&
               m_server.state() == QProcess::Running)
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

    bool IsUp() const { return m_server.state() == QProcess::Running && std::filesystem::exists(m_socket); }
    std::string Address() const { return "unix:" + m_socket.string(); }

private:
    testsupport::TempDir m_dir;
    std::filesystem::path m_socket;
    QProcess m_server;
};

// Runs in its own process: the audio client connects once, on first use, to the server named
// by PULSE_SERVER.
TEST(SoundEffectPlayerServerTest, PlaysWavThroughASoundServerAndFallsBackOnOtherFiles) {
    QtTestApp();
    PrivateSoundServer server;
    if (!server.IsUp())
        GTEST_SKIP() << "no sound server could be started (the pulseaudio package is missing)";
    setenv("PULSE_SERVER", server.Address().c_str(), 1);

    testsupport::TempDir dir;
    int alertSounds = 0;
    CSoundEffectPlayer player([&] { ++alertSounds; });

    const auto wav = dir.file("alarm.wav");
    testsupport::WriteFileBytes(wav, testsupport::SilentWav(1600));
    player.Play(wav.string());
    EXPECT_EQ(player.PendingCount(), 1) << "the sound plays on after Play has returned";
    EXPECT_TRUE(ProcessEventsUntil([&] { return player.PendingCount() == 0; }, 30000)) << "released after playing";
    EXPECT_EQ(alertSounds, 0) << "a playable file is played, not replaced by the alert sound";

    const auto noWav = dir.file("song.wav");
    testsupport::WriteFileBytes(noWav, std::vector<unsigned char>(4096, 0x5a));
    player.Play(noWav.string());
    EXPECT_TRUE(ProcessEventsUntil([&] { return alertSounds == 1; }, 30000));
    EXPECT_TRUE(ProcessEventsUntil([&] { return player.PendingCount() == 0; }, 30000));
}

} // namespace
