#pragma once

#include "ISoundPlayer.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QTemporaryDir;

// ISoundPlayer on QSoundEffect (WAV). Loading and playing run asynchronously on the event loop;
// each effect lives until it has finished or failed. Works without a sound server: the effect
// then fails and the alert sound is given, which on a headless machine does nothing.
class CSoundEffectPlayer final : public ISoundPlayer {
public:
    // An effect still around after this long (an output that never starts) is released.
    static constexpr int kMaxEffectLifetimeMs = 10 * 60 * 1000;

    // alertSound gives the desktop's alert sound (the window passes QApplication::beep).
    explicit CSoundEffectPlayer(std::function<void()> alertSound);
    ~CSoundEffectPlayer() override;
    CSoundEffectPlayer(const CSoundEffectPlayer&) = delete;
    CSoundEffectPlayer& operator=(const CSoundEffectPlayer&) = delete;

    void Play(const std::string& path) override;

private:
    void AlertSound() const;
    QString PlayableName(const std::string& path);

    std::function<void()> m_alertSound;
    // Links with plain names to files whose path is not text (made on first need), by the path.
    std::unique_ptr<QTemporaryDir> m_links;
    std::map<std::string, QString> m_linkFor;
    QObject m_effects;           // parent of the effects in flight
    QSet<QString> m_undecodable; // files that failed to decode, answered by the alert sound at once
};
