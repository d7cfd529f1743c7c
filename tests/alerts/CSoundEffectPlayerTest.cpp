#include "CSoundEffectPlayer.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "WavFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using testsupport::ProcessEventsUntil;
using testsupport::QtTestApp;

class SoundEffectPlayerTest : public ::testing::Test {
protected:
    SoundEffectPlayerTest() : m_player([this] { ++m_alertSounds; }) { QtTestApp(); }

    testsupport::TempDir m_dir;
    int m_alertSounds = 0;
    CSoundEffectPlayer m_player;
};

TEST_F(SoundEffectPlayerTest, MissingOrUnreadableFileGivesTheAlertSoundAtOnce) {
    m_player.Play(m_dir.file("missing.wav").string());
    EXPECT_EQ(m_alertSounds, 1);
    m_player.Play(m_dir.path().string()); // a folder is no sound
    EXPECT_EQ(m_alertSounds, 2);
}

TEST_F(SoundEffectPlayerTest, FileThatIsNoWaveGivesTheAlertSound) {
    const auto path = m_dir.file("song.wav");
    testsupport::WriteFileBytes(path, std::vector<unsigned char>(4096, 0x5a));
    m_player.Play(path.string()); // returns at once; loading fails later
    ASSERT_TRUE(ProcessEventsUntil([this] { return m_alertSounds == 1; }, 20000));
}

// With or without a sound server the call returns at once; headless machines have no audio
// output, so that case must be safe, and gives at most the alert sound for each call.
TEST_F(SoundEffectPlayerTest, PlayableFileIsStartedWithoutWaiting) {
    const auto path = m_dir.file("alarm.wav");
    testsupport::WriteFileBytes(path, testsupport::SilentWav(800));
    m_player.Play(path.string());
    m_player.Play(path.string());
    ProcessEventsUntil([] { return false; }, 2000); // let loading and playing run their course
    EXPECT_LE(m_alertSounds, 2);
}

} // namespace
