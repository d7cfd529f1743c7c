#pragma once

#include "MuteState.h"

#include <chrono>
#include <functional>
#include <string>

// Where the mute state of a list lives, outside the list file: a small file in a state folder
// ($XDG_STATE_HOME/pulsewick for a user, the service's StateDirectory= for a service, or a folder
// given with --state-dir), named after the list's canonical path, so that the window, the monitor
// and the companion's commands of one list all find the same file. Readers take it as it is (it
// is only ever replaced whole); writers read, change and replace it under a lock on its folder,
// so two of them never lose each other's change.
class MuteFile {
public:
    // How long a writer waits for another one; they hold the lock for milliseconds. A window
    // waits briefly: it must not freeze behind a lock that somebody holds.
    static constexpr std::chrono::milliseconds kLockWait{5000};
    static constexpr std::chrono::milliseconds kBriefLockWait{300};
    // A state file is a few lines; anything much larger is not one.
    static constexpr std::size_t kMaxBytes = 1 << 20;

    // $XDG_STATE_HOME/pulsewick, else ~/.local/state/pulsewick; empty when neither is known.
    static std::string DefaultStateDir();

    // The state of the list at listPath (its canonical path when the file exists) in stateDir,
    // or in DefaultStateDir() when stateDir is empty.
    MuteFile(const std::string& stateDir, const std::string& listPath);

    // Empty when no state folder is known (no home).
    const std::string& Path() const { return m_path; }
    const std::string& ListPath() const { return m_listPath; }

    // What the file holds now; nothing when there is none. problem says what could not be read
    // (the file names itself in it), empty when everything was.
    MuteState Read(std::string& problem) const;

    // Reads the file, lets change alter the state, drops what has ended by now and writes the
    // file anew (removes it when nothing is left). The default folder is made when missing; a
    // folder that was given must exist. A file that is no state of this list (a link, a FIFO,
    // another file) is left as it is. problem as for Read. Returns the error text, empty when
    // the change is on disk.
    std::string Change(const std::function<void(MuteState&)>& change, std::string& problem,
                       std::chrono::milliseconds lockWait = kLockWait) const;

private:
    std::string m_dir;
    std::string m_path;
    std::string m_listPath;
    bool m_bDefaultDir;
};
