#include "ListFile.h"

#include "CAtomicFile.h"
#include "CListFileLock.h"
#include "CObjectArchive.h"
#include "UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const kLoadFailureText = "Error: Load failure.  File may be corrupted.";
const char* const kFileOpenErrorPrefix = "File Open Error: ";

namespace {

std::string FormatWithErrno(const char* format, const std::string& path, int error) {
    const int length = std::snprintf(nullptr, 0, format, path.c_str(), static_cast<unsigned long>(error));
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, path.c_str(), static_cast<unsigned long>(error));
    return text;
}

std::string FullPath(const std::string& path) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return ec ? path : full.lexically_normal().string();
}

// The reader bounds every length by the bytes left, which needs a known size. A pipe or
// device has none, so its content is first copied to an anonymous temporary file, up to
// kMaxStreamedListSize bytes: an endless source (/dev/zero) must not fill the folder.
struct StreamCopy {
    int error = 0;        // errno of a failed read or write
    bool tooLong = false; // the source held more than a list can
};

// Longest pause of a pipe's or device's writer before its content counts as ended (a list cut
// short then fails as one): as long as another editor's lock is waited for.
constexpr std::chrono::milliseconds kStreamSilence = CListFileLock::kWait;

// Waits until a stream opened non-blocking has more to read, or the deadline has passed.
// Returns 0, ETIMEDOUT or errno.
int WaitForMore(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return ETIMEDOUT;
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return 0; // data, or the writer went: the next read tells
        if (ready == 0)
            return ETIMEDOUT;
        if (errno != EINTR)
            return errno;
    }
}

StreamCopy CopyToTemporaryFile(int from, UniqueFd& to) {
    std::FILE* temporary = std::tmpfile();
    if (!temporary)
        return {errno};
    const int duplicate = ::dup(::fileno(temporary));
    const int dupError = errno;
    std::fclose(temporary); // the file lives on through the duplicate until it is closed
    if (duplicate < 0)
        return {dupError};
    to.Reset(duplicate);
    char buffer[CObjectArchive::kBufferSize];
    std::uint64_t copied = 0;
    // Reads never block: a FIFO whose writer stays silent would hold the load for ever. Without
    // any writer a read gives the end at once.
    const int flags = ::fcntl(from, F_GETFL);
    if (flags < 0 || ::fcntl(from, F_SETFL, flags | O_NONBLOCK) != 0)
        return {errno};
    auto silentUntil = std::chrono::steady_clock::now() + kStreamSilence;
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int waited = WaitForMore(from, silentUntil);
            if (waited == ETIMEDOUT)
                break;
            if (waited != 0)
                return {waited};
            continue;
        }
        if (n < 0)
            return {errno};
        if (n == 0)
            break;
        silentUntil = std::chrono::steady_clock::now() + kStreamSilence;
        copied += static_cast<std::uint64_t>(n);
        if (copied > kMaxStreamedListSize)
            return {0, true};
        if (const int error = WriteAll(to.Get(), buffer, static_cast<std::size_t>(n)))
            return {error};
    }
    return {::lseek(to.Get(), 0, SEEK_SET) < 0 ? errno : 0};
}

ListFileSaveResult SaveFileError(const std::string& path, int error) {
    return {ListFileStatus::fileError, error, OpenFailedText(path, error), std::nullopt};
}

// Writes the whole list through an archive on fd; fills result on failure.
bool StoreList(const CItemList& list, int fd, const std::string& path, ListFileSaveResult& result) {
    try {
        CObjectArchive archive(fd, CObjectArchive::Mode::store);
        archive.WriteObject(list);
        archive.Close();
        return true;
    } catch (const CFileException& e) {
        result = SaveFileError(path, e.m_errno);
    } catch (const CArchiveException&) {
        result = {ListFileStatus::archiveError, 0, kFileOpenErrorPrefix + path, std::nullopt};
    }
    return false;
}

// Devices and pipes cannot be replaced by renaming; they are written as they are. A FIFO
// that nobody reads refuses the open (ENXIO) rather than holding the save until someone does.
ListFileSaveResult SaveInPlace(const CItemList& list, const std::string& target, const std::string& path) {
    // When it opens, a reader is there: it gets the whole list at its own pace.
    UniqueFd fd = OpenWithoutWaiting(target.c_str(), O_WRONLY);
    if (!fd)
        return SaveFileError(path, errno);
    ListFileSaveResult result;
    if (!StoreList(list, fd.Get(), path, result))
        return result;
    if (::close(fd.Release()) != 0 && errno != EINTR)
        return SaveFileError(path, errno);
    return result;
}
} // namespace

std::string LoadFailedText(const std::string& path, int error) {
    return FormatWithErrno("Loading %s failed (returned a 0x%lx).", path, error);
}

std::string OpenFailedText(const std::string& path, int error) {
    return FormatWithErrno("Opening %s failed (returned a 0x%lx).", path, error);
}

ListFileLoadResult LoadListFile(const std::string& path, CListFileLock* editLock) {
    ListFileLoadResult result;
    auto fileError = [&](int error) {
        result.status = ListFileStatus::fileError;
        result.error = error;
        result.message = LoadFailedText(path, error);
        result.list.reset();
        return std::move(result);
    };
    auto archiveError = [&](ArchiveCause cause) {
        result.status = ListFileStatus::archiveError;
        result.cause = cause;
        result.message = kLoadFailureText;
        result.causeText = ArchiveCauseText(cause, FullPath(path));
        result.list.reset();
        return std::move(result);
    };

    CListFileLock readLock;
    CListFileLock& lock = editLock ? *editLock : readLock;
    if (const int error = lock.Open(path, editLock ? CListFileLock::Mode::exclusive : CListFileLock::Mode::shared))
        return fileError(error);
    int fd = lock.Descriptor();
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fileError(errno);
    if (S_ISDIR(st.st_mode))
        return fileError(EISDIR);
    result.stamp = StampOf(st); // taken under the lock, so it is the version read
    UniqueFd copy;
    if (!S_ISREG(st.st_mode)) {
        const StreamCopy copied = CopyToTemporaryFile(fd, copy);
        lock.Release(); // nothing to keep for an edit: a stream is written in place
        if (copied.tooLong)
            return archiveError(ArchiveCause::endOfFile);
        if (copied.error)
            return fileError(copied.error);
        fd = copy.Get();
        if (::fstat(fd, &st) != 0)
            return fileError(errno);
    }

    try {
        CObjectArchive archive(fd, CObjectArchive::Mode::load, static_cast<std::uint64_t>(st.st_size));
        std::unique_ptr<CSerializable> top = archive.ReadObject(&CItemList::classCItemList);
        archive.Close();
        if (!top) {
            result.status = ListFileStatus::noList;
            return result;
        }
        result.list.reset(static_cast<CItemList*>(top.release()));
        result.status = ListFileStatus::ok;
        return result;
    } catch (const CFileException& e) {
        return fileError(e.m_errno);
    } catch (const CArchiveException& e) {
        return archiveError(e.m_cause);
    }
}

ListFileSaveResult SaveListFile(const CItemList& list, const std::string& path, const CListFileLock* editLock) {
    std::string target;
    if (const int error = CAtomicFile::ResolveLinks(path, target))
        return SaveFileError(path, error);

    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return SaveInPlace(list, target, path);

    // Held until the new file has taken the name. A file that cannot be opened for reading,
    // or is not there yet, is saved unlocked: the save itself reports what stands in its way.
    CListFileLock saveLock;
    if (!editLock && saveLock.Open(target, CListFileLock::Mode::exclusive) == EWOULDBLOCK)
        return SaveFileError(path, EWOULDBLOCK);
    // With the lock no other editor is saving: what a killed one left is cleared now.
    if (editLock ? editLock->IsLocked() : saveLock.IsLocked())
        CAtomicFile::RemoveAbandoned(target);

    CAtomicFile file(target);
    if (const int error = file.Open())
        return SaveFileError(path, error);
    ListFileSaveResult result;
    if (!StoreList(list, file.Descriptor(), path, result))
        return result; // the temporary file goes away with `file`; the target is untouched
    const std::optional<ListFileStamp> stamp = StampOf(file.Descriptor()); // naming it changes neither
    if (const int error = file.Commit())
        return SaveFileError(path, error);
    result.stamp = stamp;
    return result;
}
