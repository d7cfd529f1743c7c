#include "CSoundEffectPlayer.h"
#include "PrivateSoundServer.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "WavFile.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

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

    // Again: the file still gets the alert sound, and no effect is left waiting for it.
    player.Play(noWav.string());
    EXPECT_TRUE(ProcessEventsUntil([&] { return alertSounds == 2; }, 30000));
    EXPECT_EQ(player.PendingCount(), 0);
}

} // namespace
