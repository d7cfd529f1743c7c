// The sound module's single export: the player on Qt Multimedia, behind a C entry point.
#include "CSoundEffectPlayer.h"
#include "SoundModule.h"

#include <QAudioDevice>
#include <QMediaDevices>

#include <memory>

namespace {

bool HasAudioOutput() {
    return !QMediaDevices::defaultAudioOutput().isNull();
}

ISoundPlayer* CreatePlayer() {
    return std::make_unique<CSoundEffectPlayer>([] {}).release();
}

constexpr soundmodule::Api kApi{soundmodule::kVersion, HasAudioOutput, CreatePlayer};

} // namespace

extern "C" __attribute__((visibility("default"))) const soundmodule::Api* pulsewick_sound_module() {
    return &kApi;
}
