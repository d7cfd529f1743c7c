#include "CSoundEffectPlayer.h"
#include "PrivateSoundServer.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "WavFile.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <cstdlib>

namespace {

// The streams the server plays at this moment, as the sound server's own tool lists them.
int PlayingStreams(const testsupport::PrivateSoundServer& server) {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"),
                {QStringLiteral("--server"), QString::fromStdString(server.Address()), QStringLiteral("list"),
                 QStringLiteral("short"), QStringLiteral("sink-inputs")});
    if (!pactl.waitForFinished(10000))
        return -1;
    return static_cast<int>(pactl.readAllStandardOutput().count('\n'));
}

using testsupport::PrivateSoundServer;
using testsupport::ProcessEventsUntil;
using testsupport::QtTestApp;

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

    const auto wav = dir.file("alarm\xff.wav"); // a path's bytes need not be text
    testsupport::WriteFileBytes(wav, testsupport::SilentWav(1600));
    player.Play(wav.string());
    EXPECT_TRUE(ProcessEventsUntil([&] { return PlayingStreams(server) == 1; }, 30000))
        << "the sound plays on after Play has returned";
    EXPECT_TRUE(ProcessEventsUntil([&] { return PlayingStreams(server) == 0; }, 30000)) << "released after playing";
    EXPECT_EQ(alertSounds, 0) << "a playable file is played, not replaced by the alert sound";

    const auto noWav = dir.file("song.wav");
    testsupport::WriteFileBytes(noWav, std::vector<unsigned char>(4096, 0x5a));
    player.Play(noWav.string());
    EXPECT_TRUE(ProcessEventsUntil([&] { return alertSounds == 1; }, 30000));

    // Again: the file still gets the alert sound, and no effect is left waiting for it.
    player.Play(noWav.string());
    EXPECT_TRUE(ProcessEventsUntil([&] { return alertSounds == 2; }, 30000));
    EXPECT_EQ(PlayingStreams(server), 0);
}

} // namespace
