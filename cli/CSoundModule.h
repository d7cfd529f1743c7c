#pragma once

#include "ISoundPlayer.h"

#include <memory>
#include <string>

namespace soundmodule {
struct Api;
}

namespace cli {

// The sound module (see SoundModule.h), loaded on first use. Once loaded it stays for the rest
// of the process: Qt Multimedia starts threads and registers itself with Qt, which no unload
// could take back.
class CSoundModule {
public:
    // The module of that file; by default the one beside this program (none when this program
    // cannot find itself).
    explicit CSoundModule(std::string path = BesideProgram());
    ~CSoundModule();
    CSoundModule(const CSoundModule&) = delete;
    CSoundModule& operator=(const CSoundModule&) = delete;

    // Loads the module unless it is loaded: empty when it is, otherwise why it cannot be (a later
    // call tries again).
    std::string Load();
    // Only after Load succeeded.
    bool HasAudioOutput() const;
    ISoundPlayer& Player() { return *m_player; }

    static std::string BesideProgram();

private:
    std::string m_path;
    const soundmodule::Api* m_api = nullptr;
    std::unique_ptr<ISoundPlayer> m_player;
};

} // namespace cli
