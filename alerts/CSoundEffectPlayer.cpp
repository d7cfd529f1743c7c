#include "CSoundEffectPlayer.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <utility>

CSoundEffectPlayer::CSoundEffectPlayer(std::function<void()> alertSound) : m_alertSound(std::move(alertSound)) {}

CSoundEffectPlayer::~CSoundEffectPlayer() = default;

void CSoundEffectPlayer::AlertSound() const {
    if (m_alertSound)
        m_alertSound();
}

void CSoundEffectPlayer::Play(const std::string& path) {
    const QFileInfo info(QString::fromLocal8Bit(path));
    if (!info.isFile() || !info.isReadable()) {
        AlertSound();
        return;
    }
    // Without an output (no sound server) an effect would load and then wait forever to play.
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull()) {
        AlertSound();
        return;
    }

    // Qt's sample cache keeps a source that failed to decode for the rest of the process, and an
    // effect made for it again never leaves the loading state: no sound and no alert sound.
    const QString source = info.absoluteFilePath();
    if (m_undecodable.contains(source)) {
        AlertSound();
        return;
    }

    // Owned by m_effects until it deletes itself after playing or failing.
    auto* effect = new QSoundEffect(output, &m_effects);
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [this, effect, source] {
        switch (effect->status()) {
        case QSoundEffect::Ready:
            effect->play();
            break;
        case QSoundEffect::Error:
            m_undecodable.insert(source);
            AlertSound();
            effect->deleteLater();
            break;
        default:
            break;
        }
    });
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying())
            effect->deleteLater();
    });
    QTimer::singleShot(kMaxEffectLifetimeMs, effect, &QObject::deleteLater);
    effect->setSource(QUrl::fromLocalFile(source));
}
