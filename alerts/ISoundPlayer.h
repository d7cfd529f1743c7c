#pragma once

#include <string>

// Plays the sound alert. Behind an interface so tests can see the request.
class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    // Starts playing the file and returns at once; when the file cannot be played, the
    // desktop's alert sound is given instead. Nothing is reported.
    virtual void Play(const std::string& path) = 0;
};
