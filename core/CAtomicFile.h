#pragma once

#include "UniqueFd.h"

#include <string>
#include <sys/stat.h>

// A file replaced all at once: the new content goes to a temporary file in the target's
// folder, which takes the target's name only when Commit() has flushed it to disk. Until
// then the target is untouched; an uncommitted temporary file is removed on destruction.
// Where the file system offers it the temporary file has no name until Commit() names it just
// before the rename; elsewhere it is a hidden file beside the target from the start. A process
// killed while the file has a name leaves it behind, so the file carries a lock (flock) for as
// long as its saver lives and its own name in an extended attribute while it has one, and
// RemoveAbandoned clears the files that prove both that they are ours and that their saver is
// gone. A file without the mark (a person's, or one on a file system without user attributes)
// is never removed, whatever its name.
class CAtomicFile {
public:
    // Follows symbolic links so that a save replaces the file a link points to, not the link;
    // a link to a file that does not exist yet resolves to that file's path. Returns 0 or errno.
    static int ResolveLinks(const std::string& path, std::string& resolved);

    // Removes the temporary files of target left by savers that were killed before their
    // rename; a file whose saver still lives keeps its lock and stays, and so does every file
    // that does not carry its own name in the mark.
    static void RemoveAbandoned(const std::string& target);

    // target must already have its symbolic links resolved (ResolveLinks).
    explicit CAtomicFile(std::string target);
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Checks that the target may be written and creates the temporary file with the target's
    // permission bits (or the usual ones for a new file). Returns 0 or an errno value.
    int Open();
    int Descriptor() const { return m_fd.Get(); }
    // Flushes the temporary file to disk and renames it over the target. Returns 0 or errno.
    int Commit();

private:
    int CheckWritable(const struct stat& st) const;
    int CreateTemporary(mode_t mode);
    bool CreateUnnamed(mode_t mode);
    void MarkLive();
    void MarkOwnName(const std::string& path);
    int NameUnnamed();
    void Discard();

    std::string m_target;
    std::string m_tempPath; // empty while the temporary file has no name
    UniqueFd m_fd;
    UniqueFd m_liveMark; // holds the temporary file's lock until the rename, after m_fd is closed
    bool m_unnamed = false;
};
