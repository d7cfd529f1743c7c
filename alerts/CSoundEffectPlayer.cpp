#include "CSoundEffectPlayer.h"

#include <QAudioDevice>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <climits>
#include <unistd.h>
#include <utility>

CSoundEffectPlayer::CSoundEffectPlayer(std::function<void()> alertSound) : m_alertSound(std::move(alertSound)) {}

CSoundEffectPlayer::~CSoundEffectPlayer() = default;

void CSoundEffectPlayer::AlertSound() const {
    if (m_alertSound)
        m_alertSound();
}

// Qt opens a file by the bytes it makes of a QString, so a path that is not text in the locale's
// encoding would open another name or none. Such a file is opened through a link with a plain
// name in a private directory, one link per file, since Qt keeps samples by name. Empty when no
// link can be made.
QString CSoundEffectPlayer::PlayableName(const std::string& path) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    if (QFile::encodeName(name).toStdString() == path)
        return name;
    std::string absolute = path;
    if (path.front() != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd))
            return {};
        absolute = std::string(cwd) + '/' + path;
    }
    if (const auto known = m_linkFor.find(absolute); known != m_linkFor.end())
        return known->second;
    if (!m_links)
        m_links = std::make_unique<QTemporaryDir>();
    const QString link = m_links->filePath(QStringLiteral("sound-%1").arg(m_linkFor.size()));
    if (!m_links->isValid() || ::symlink(absolute.c_str(), QFile::encodeName(link).constData()) != 0)
        return {};
    return m_linkFor[absolute] = link;
}

void CSoundEffectPlayer::Play(const std::string& path) {
    const QString name = PlayableName(path);
    const QFileInfo info(name);
    if (name.isEmpty() || !info.isFile() || !info.isReadable()) {
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
