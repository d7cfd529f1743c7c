#include "CAtomicFile.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
constexpr mode_t kPermissionBits = 07777;
constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr int kTemporaryNameAttempts = 100;
constexpr int kMaxLinkHops = 40; // as the kernel allows before ELOOP

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr char kNameDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kRandomDigits = 8;
constexpr const char* kTemporarySuffix = ".tmp";

std::string TemporaryPrefix(const std::string& target) {
    return "." + NameOf(target) + ".";
}

// Tries fresh hidden names beside target with attempt (which returns 0 or an errno value)
// until one is free. Returns the name taken through name.
template <typename Attempt>
int WithTemporaryName(const std::string& target, std::string& name, Attempt&& attempt) {
    const std::string prefix = FolderOf(target) + "/" + TemporaryPrefix(target);
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int tries = 0; tries < kTemporaryNameAttempts; ++tries) {
        std::string candidate = prefix;
        for (std::size_t i = 0; i < kRandomDigits; ++i)
            candidate += kNameDigits[random() % (sizeof kNameDigits - 1)];
        candidate += kTemporarySuffix;
        const int error = attempt(candidate);
        if (error == 0)
            name = std::move(candidate);
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

// Whether name is one WithTemporaryName makes for a target whose own name gives prefix.
bool IsTemporaryName(const std::string& name, const std::string& prefix) {
    const std::string suffix = kTemporarySuffix;
    if (name.size() != prefix.size() + kRandomDigits + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(prefix.size() + kRandomDigits, suffix.size(), suffix) != 0)
        return false;
    const std::string_view digits(name.data() + prefix.size(), kRandomDigits);
    return digits.find_first_not_of(kNameDigits) == std::string_view::npos;
}

// A temporary file carries its own name in this attribute while it has one, so that a file of
// the same name that a person made (or a copy of ours under another name) is never taken for it.
constexpr const char* kOwnNameAttribute = "user.pulsewick.temporary";

bool CarriesOwnName(int fd, const std::string& name) {
    std::string value(name.size() + 1, '\0'); // one more: a longer value must not pass for this one
    const ssize_t size = ::fgetxattr(fd, kOwnNameAttribute, value.data(), value.size());
    return size == static_cast<ssize_t>(name.size()) && value.compare(0, name.size(), name) == 0;
}

// Removes name in folder when it is provably a temporary file of ours whose saver is gone: a
// regular file that carries its own name and that nobody holds locked.
void RemoveIfAbandoned(int folder, const std::string& name) {
    const UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (!fd || ::fstat(fd.Get(), &opened) != 0 || !S_ISREG(opened.st_mode) || !CarriesOwnName(fd.Get(), name) ||
        ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return;
    // Still the same file under the name: never remove one that took the name meanwhile.
    struct stat named {};
    if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino)
        ::unlinkat(folder, name.c_str(), 0);
}

std::string DescriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

int CloseKeepingErrno(int fd) {
    const int result = ::close(fd);
    // Linux releases the descriptor even when close reports EINTR; never close it twice.
    return result == 0 || errno == EINTR ? 0 : errno;
}
} // namespace

int CAtomicFile::ResolveLinks(const std::string& path, std::string& resolved) {
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

void CAtomicFile::RemoveAbandoned(const std::string& target) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(FolderOf(target).c_str()), ::closedir);
    if (!listing)
        return;
    const std::string prefix = TemporaryPrefix(target);
    while (const dirent* entry = ::readdir(listing.get())) {
        if (IsTemporaryName(entry->d_name, prefix))
            RemoveIfAbandoned(::dirfd(listing.get()), entry->d_name);
    }
}

CAtomicFile::CAtomicFile(std::string target) : m_target(std::move(target)) {}

CAtomicFile::~CAtomicFile() {
    Discard();
}

void CAtomicFile::Discard() {
    m_fd.Reset();
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
    m_liveMark.Reset();
}

// Locks the new temporary file (before it has a name, where it starts without one) and keeps
// the lock through a second descriptor until the rename, since Commit closes the first before
// it. Where the file system has no locks nothing is marked, and RemoveAbandoned cannot lock the
// file either, so it leaves it alone.
void CAtomicFile::MarkLive() {
    if (::flock(m_fd.Get(), LOCK_EX | LOCK_NB) == 0)
        m_liveMark.Reset(::fcntl(m_fd.Get(), F_DUPFD_CLOEXEC, 0));
}

// Writes the name the file is about to take (or has just taken) into it, after the lock, so no
// other saver ever sees a marked file unlocked while this one lives. Without the lock, or on a
// file system without user attributes, the file stays unmarked: a leftover then stays too.
void CAtomicFile::MarkOwnName(const std::string& path) {
    const std::string name = NameOf(path);
    if (m_liveMark)
        ::fsetxattr(m_liveMark.Get(), kOwnNameAttribute, name.data(), name.size(), 0);
}

int CAtomicFile::CheckWritable(const struct stat& st) const {
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    // Ask the system everything an in-place save would meet: permissions for the effective
    // user, read-only mounts, immutable files. Asking does not open the file, so watchers of
    // the file see no write.
    if (::faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0)
        return errno;
    // The superuser passes every permission check, yet a file without any write bit is meant
    // to be left alone: treat it as read-only for everyone.
    if ((st.st_mode & kAnyWriteBit) == 0)
        return EACCES;
    return 0;
}

bool CAtomicFile::CreateUnnamed(mode_t mode) {
    UniqueFd fd(::open(FolderOf(m_target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!fd)
        return false; // no support in this file system or kernel: a named file will do
    // Naming it needs either the right to link any descriptor or /proc; without /proc, which
    // cannot be told in advance, take a named file.
    struct stat st {};
    if (::lstat(DescriptorPath(fd.Get()).c_str(), &st) != 0)
        return false;
    m_fd = std::move(fd);
    m_unnamed = true;
    return true;
}

int CAtomicFile::CreateTemporary(mode_t mode) {
    if (CreateUnnamed(mode)) {
        MarkLive();
        return 0;
    }
    return WithTemporaryName(m_target, m_tempPath, [&](const std::string& candidate) {
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0)
            return errno;
        m_fd.Reset(fd);
        MarkLive();
        MarkOwnName(candidate);
        return 0;
    });
}

// Gives the complete unnamed file a hidden name beside the target, for the rename over it.
int CAtomicFile::NameUnnamed() {
    return WithTemporaryName(m_target, m_tempPath, [&](const std::string& candidate) {
        MarkOwnName(candidate);
        if (::linkat(m_fd.Get(), "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != ENOENT && errno != EPERM)
            return errno;
        // Linking a descriptor directly takes a privilege; through /proc it does not.
        if (::linkat(AT_FDCWD, DescriptorPath(m_fd.Get()).c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        return errno;
    });
}

int CAtomicFile::Open() {
    struct stat st {};
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return errno;
    if (exists) {
        if (const int error = CheckWritable(st))
            return error;
    }
    if (const int error = CreateTemporary(exists ? (st.st_mode & kPermissionBits) : kNewFileMode))
        return error;
    if (exists) {
        // The creation mode was narrowed by the umask; give the file exactly the old bits,
        // and (where allowed) the old owner, so replacing it changes nothing but content.
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
            if (::fchown(m_fd.Get(), st.st_uid, st.st_gid) != 0) {
                // Not allowed for ordinary users; the file then belongs to whoever saved it.
            }
        }
        if (::fchmod(m_fd.Get(), st.st_mode & kPermissionBits) != 0) {
            const int error = errno;
            Discard();
            return error;
        }
    }
    return 0;
}

int CAtomicFile::Commit() {
    if (!m_fd)
        return EBADF;
    if (::fsync(m_fd.Get()) != 0) {
        const int error = errno;
        Discard();
        return error;
    }
    if (m_unnamed) {
        if (const int error = NameUnnamed()) {
            Discard();
            return error;
        }
    }
    const int closeError = CloseKeepingErrno(m_fd.Release());
    if (closeError != 0) {
        Discard();
        return closeError;
    }
    if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
        const int error = errno;
        Discard();
        return error;
    }
    m_tempPath.clear();
    // The list keeps no trace of having been a temporary file.
    if (m_liveMark)
        ::fremovexattr(m_liveMark.Get(), kOwnNameAttribute);
    m_liveMark.Reset();
    // Make the rename itself durable; a folder that cannot be synced changes nothing here.
    const UniqueFd folder(::open(FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        ::fsync(folder.Get());
    return 0;
}
