#pragma once

#include "ArchiveError.h"
#include "CItemList.h"
#include "ListFileStamp.h"

#include <cstdint>
#include <memory>
#include <string>

class CListFileLock;

// Loading and saving a whole list file, shared by the window and the headless companion.
// Both report failures as values carrying the exact texts the user is shown.

enum class ListFileStatus {
    ok,           // loaded a list, or saved
    noList,       // loading: the file holds no list (a reference to no object at the top)
    fileError,    // the file could not be opened, read or written; error holds errno
    archiveError, // the file's contents are not a valid list (loading) or could not be encoded (saving)
};

struct ListFileLoadResult {
    ListFileStatus status = ListFileStatus::ok;
    std::unique_ptr<CItemList> list;              // the new list when status is ok, else null
    int error = 0;                                // errno of a file error
    ArchiveCause cause = ArchiveCause::endOfFile; // of an archive error
    std::string message;                          // what the user is told first; empty on success and for noList
    std::string causeText;                        // archive error: the cause's own text, shown after message
    std::optional<ListFileStamp> stamp;           // the file read, when it is a regular file

    bool HasList() const { return status == ListFileStatus::ok; }
};

struct ListFileSaveResult {
    ListFileStatus status = ListFileStatus::ok;
    int error = 0;                      // errno of a file error
    std::string message;                // empty on success
    std::optional<ListFileStamp> stamp; // the file written, when it is a regular file

    bool Succeeded() const { return status == ListFileStatus::ok; }
};

// Reads the list in the file at path into a new list; never touches any list in use. Other
// editors are kept out while it reads (a shared lock). A pipe or device is read to its end, up
// to kMaxStreamedListSize bytes; a FIFO without a writer reads as an empty file, and one whose
// writer falls silent for as long as a lock is waited for (CListFileLock::kWait) as a file that
// ends there.
// With editLock, the file is locked for an edit instead: the exclusive lock stays in *editLock
// for the SaveListFile that ends the edit, so no other editor's change falls in between.
ListFileLoadResult LoadListFile(const std::string& path, CListFileLock* editLock = nullptr);

// Writes the list in the current layout. The file is replaced only once the new content is
// complete and on disk, so a failed save leaves the previous file whole. A symbolic link is
// followed and its target replaced; the target's permission bits are kept. The file is locked
// against other editors while it is replaced, unless editLock already holds it. A FIFO without
// a reader fails at once (ENXIO) instead of waiting for one.
ListFileSaveResult SaveListFile(const CItemList& list, const std::string& path,
                                const CListFileLock* editLock = nullptr);

// Longest content taken from a pipe or device, which have no size to bound the reader: far
// beyond any list a person keeps (over a million entries), small enough for the temporary folder.
// More is the end-of-file failure, as a list cut short would be.
constexpr std::uint64_t kMaxStreamedListSize = std::uint64_t{64} << 20;

// The texts, for callers that report failures of their own.
std::string LoadFailedText(const std::string& path, int error); // "Loading %s failed (returned a 0x%lx)."
std::string OpenFailedText(const std::string& path, int error); // "Opening %s failed (returned a 0x%lx)."
extern const char* const kLoadFailureText;                      // "Error: Load failure.  File may be corrupted."
extern const char* const kFileOpenErrorPrefix;                  // "File Open Error: "
