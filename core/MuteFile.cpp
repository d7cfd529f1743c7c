#include "MuteFile.h"

#include "CAtomicFile.h"
#include "UniqueFd.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr const char* kFolderName = "pulsewick";
constexpr const char* kSuffix = ".mute";
constexpr std::size_t kNameBytes = 64; // of the list's own name, in the file's name
constexpr mode_t kFolderMode = 0700;   // as XDG asks of state folders
constexpr mode_t kFileMode = 0644;     // a service's monitor reads what root's mute wrote
constexpr std::chrono::milliseconds kLockPause{10};

// FNV-1a: the file's name tells lists of the same name in different folders apart.
std::uint64_t Hash(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

// "office.pwk-1f2e3d4c5b6a7980.mute": the list's name for people, its path's hash for uniqueness.
std::string FileName(const std::string& listPath) {
    const std::size_t slash = listPath.rfind('/');
    std::string name;
    for (const char c : listPath.substr(slash == std::string::npos ? 0 : slash + 1).substr(0, kNameBytes)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        name += plain ? c : '_';
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Hash(listPath)));
    return name + "-" + hash + kSuffix;
}

std::string Canonical(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved))
        return resolved;
    if (!path.empty() && path.front() == '/')
        return path;
    char here[PATH_MAX];
    return ::getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

std::string ErrorText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

int MakeFolders(const std::string& dir) {
    for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (::mkdir(part.c_str(), kFolderMode) != 0 && errno != EEXIST)
            return errno;
        if (slash == std::string::npos)
            return 0;
    }
}

// Holds the folder's lock while it lives.
class FolderLock {
public:
    int Take(const std::string& dir, std::chrono::milliseconds wait) {
        m_fd = UniqueFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!m_fd)
            return errno;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (::flock(m_fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return errno;
            if (std::chrono::steady_clock::now() >= deadline)
                return EWOULDBLOCK;
            std::this_thread::sleep_for(kLockPause);
        }
        return 0;
    }

private:
    UniqueFd m_fd;
};

// Replaces the name itself, never what a link of that name points to: whoever owns the state
// folder must not steer a writer with more rights to another file.
int WriteState(const std::string& path, const std::string& text) {
    CAtomicFile file(path);
    int error = file.Open();
    if (error == 0 && ::fchmod(file.Descriptor(), kFileMode) != 0)
        error = errno;
    if (error == 0)
        error = WriteAll(file.Descriptor(), text.data(), text.size());
    return error == 0 ? file.Commit() : error;
}

} // namespace

std::string MuteFile::DefaultStateDir() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/" + kFolderName;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/.local/state/" + kFolderName;
    return {};
}

MuteFile::MuteFile(const std::string& stateDir, const std::string& listPath)
    : m_dir(stateDir.empty() ? DefaultStateDir() : stateDir), m_listPath(Canonical(listPath)),
      m_bDefaultDir(stateDir.empty()) {
    if (!m_dir.empty())
        m_path = m_dir + "/" + FileName(m_listPath);
}

MuteState MuteFile::Read(std::string& problem) const {
    problem.clear();
    if (m_path.empty())
        return {};
    const UniqueFd fd = OpenWithoutWaiting(m_path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (!fd) {
        if (errno == ELOOP)
            problem = m_path + " is not a mute state of Pulsewick";
        else if (errno != ENOENT)
            problem = ErrorText(m_path + " cannot be read", errno);
        return {};
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > kMaxBytes) {
        problem = m_path + " is not a mute state of Pulsewick";
        return {};
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.Get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    MuteState state = ParseMuteState(text, problem);
    if (problem.empty() && state.listPath != m_listPath)
        problem = "it holds the mute state of another list (" + state.listPath + ")";
    if (!problem.empty()) {
        problem = m_path + ": " + problem;
        if (state.listPath != m_listPath)
            return {};
    }
    return state;
}

std::string MuteFile::Change(const std::function<void(MuteState&)>& change, std::string& problem,
                             std::chrono::milliseconds lockWait) const {
    problem.clear();
    if (m_path.empty())
        return "no folder for the mute state: neither XDG_STATE_HOME nor HOME is set (give --state-dir DIR)";
    if (m_bDefaultDir) {
        if (const int error = MakeFolders(m_dir))
            return ErrorText("cannot make the state folder " + m_dir, error);
    }
    FolderLock lock;
    if (const int error = lock.Take(m_dir, lockWait))
        return error == EWOULDBLOCK ? "the state folder " + m_dir + " is locked by another program"
                                    : ErrorText("cannot use the state folder " + m_dir, error);
    MuteState state = Read(problem);
    // Only a state of this list, however damaged, is written anew; anything else stays as it is.
    if (!problem.empty() && state.listPath != m_listPath) {
        std::string error = problem + "; left as it is (remove it first)";
        problem.clear();
        return error;
    }
    state.listPath = m_listPath;
    change(state);
    state.Expire(static_cast<std::int64_t>(std::time(nullptr)));
    if (state.IsEmpty()) {
        if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
            return ErrorText("cannot remove " + m_path, errno);
        return {};
    }
    if (const int error = WriteState(m_path, FormatMuteState(state)))
        return ErrorText("cannot write " + m_path, error);
    return {};
}
