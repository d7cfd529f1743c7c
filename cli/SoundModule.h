#pragma once

#include "ISoundPlayer.h"

// The monitor's sound player lives in a module of its own, because Qt Multimedia brings Qt Gui,
// OpenGL, X11 and PulseAudio along, megabytes a monitor without a sound alert never needs. The
// module exports one C function that hands out this table; the loader checks its version first.
namespace soundmodule {

// Raised whenever the table or ISoundPlayer changes, so a module of another build is refused
// rather than called.
inline constexpr int kVersion = 1;

struct Api {
    int version;
    // Whether an audio output can be reached now (a server usually has none).
    bool (*hasAudioOutput)();
    // A player that gives no alert sound for a file it cannot play; the caller owns it.
    ISoundPlayer* (*createPlayer)();
};

// The name the loader looks the entry point up by: that of the function below.
inline constexpr const char* kEntryPoint = "pulsewick_sound_module";
using EntryPoint = const Api* (*)();

} // namespace soundmodule

extern "C" const soundmodule::Api* pulsewick_sound_module();
