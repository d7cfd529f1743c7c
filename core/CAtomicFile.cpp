#include "CAtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace {
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
constexpr mode_t kPermissionBits = 07777;
constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr int kTemporaryNameAttempts = 100;

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

int CloseKeepingErrno(int fd) {
    const int result = ::close(fd);
    // Linux releases the descriptor even when close reports EINTR; never close it twice.
    return result == 0 || errno == EINTR ? 0 : errno;
}
} // namespace

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

int CAtomicFile::CreateTemporary(mode_t mode) {
    const std::string prefix = FolderOf(m_target) + "/." + NameOf(m_target) + ".";
    std::random_device seed;
    std::mt19937_64 random(seed());
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::string candidate = prefix;
        for (int i = 0; i < 8; ++i)
            candidate += kDigits[random() % (sizeof kDigits - 1)];
        candidate += ".tmp";
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            m_fd.Reset(fd);
            m_tempPath = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
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
    // Make the rename itself durable; a folder that cannot be synced changes nothing here.
    const UniqueFd folder(::open(FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        ::fsync(folder.Get());
    return 0;
}
