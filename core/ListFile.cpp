#include "ListFile.h"

#include "CAtomicFile.h"
#include "CObjectArchive.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

const char* const kLoadFailureText = "Error: Load failure.  File may be corrupted.";
const char* const kFileOpenErrorPrefix = "File Open Error: ";

namespace {
constexpr int kMaxLinkHops = 40; // as the kernel allows before ELOOP

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
// device has none, so its content is first copied to an anonymous temporary file.
int CopyToTemporaryFile(int from, UniqueFd& to) {
    std::FILE* temporary = std::tmpfile();
    if (!temporary)
        return errno;
    const int duplicate = ::dup(::fileno(temporary));
    const int dupError = errno;
    std::fclose(temporary); // the file lives on through the duplicate until it is closed
    if (duplicate < 0)
        return dupError;
    to.Reset(duplicate);
    char buffer[CObjectArchive::kBufferSize];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = ::write(to.Get(), buffer + done, static_cast<std::size_t>(n - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                return errno;
            done += written;
        }
    }
    return ::lseek(to.Get(), 0, SEEK_SET) < 0 ? errno : 0;
}

// Follows symbolic links so that a save replaces the file a link points to, not the link.
// A link to a file that does not exist yet resolves to that file's path.
int ResolveLinks(const std::string& path, std::string& resolved) {
    resolved = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(resolved.c_str(), &st) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode))
            return 0;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
        for (;;) {
            const ssize_t n = ::readlink(resolved.c_str(), target.data(), target.size());
            if (n < 0)
                return errno;
            if (static_cast<std::size_t>(n) < target.size()) {
                target.resize(static_cast<std::size_t>(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (target.empty() || target.front() != '/') {
            const auto slash = resolved.rfind('/');
            if (slash != std::string::npos)
                target = resolved.substr(0, slash + 1) + target;
        }
        resolved = std::move(target);
    }
    return ELOOP;
}

ListFileSaveResult SaveFileError(const std::string& path, int error) {
    return {ListFileStatus::fileError, error, OpenFailedText(path, error)};
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
        result = {ListFileStatus::archiveError, 0, kFileOpenErrorPrefix + path};
    }
    return false;
}

// Devices and pipes cannot be replaced by renaming; they are written as they are.
ListFileSaveResult SaveInPlace(const CItemList& list, const std::string& target, const std::string& path) {
    UniqueFd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
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

ListFileLoadResult LoadListFile(const std::string& path) {
    ListFileLoadResult result;
    auto fileError = [&](int error) {
        result.status = ListFileStatus::fileError;
        result.error = error;
        result.message = LoadFailedText(path, error);
        result.list.reset();
        return std::move(result);
    };

    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return fileError(errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return fileError(errno);
    if (S_ISDIR(st.st_mode))
        return fileError(EISDIR);
    if (!S_ISREG(st.st_mode)) {
        UniqueFd copy;
        if (const int error = CopyToTemporaryFile(fd.Get(), copy))
            return fileError(error);
        fd = std::move(copy);
        if (::fstat(fd.Get(), &st) != 0)
            return fileError(errno);
    }

    try {
        CObjectArchive archive(fd.Get(), CObjectArchive::Mode::load, static_cast<std::uint64_t>(st.st_size));
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
        result.status = ListFileStatus::archiveError;
        result.cause = e.m_cause;
        result.message = kLoadFailureText;
        result.causeText = ArchiveCauseText(e.m_cause, FullPath(path));
        return result;
    }
}

ListFileSaveResult SaveListFile(const CItemList& list, const std::string& path) {
    std::string target;
    if (const int error = ResolveLinks(path, target))
        return SaveFileError(path, error);

    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return SaveInPlace(list, target, path);

    CAtomicFile file(target);
    if (const int error = file.Open())
        return SaveFileError(path, error);
    ListFileSaveResult result;
    if (!StoreList(list, file.Descriptor(), path, result))
        return result; // the temporary file goes away with `file`; the target is untouched
    if (const int error = file.Commit())
        return SaveFileError(path, error);
    return result;
}
