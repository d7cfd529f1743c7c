#include "CAtomicFile.h"
#include "CListFileLock.h"
#include "InChild.h"
#include "ListFile.h"
#include "ListFileSamples.h"
#include "RunProgram.h"
#include "SyscallFilter.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using samples::Bytes;
using testsupport::InChild;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

std::size_t FilesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

std::unique_ptr<CItemList> BigList(int entries) {
    auto list = std::make_unique<CItemList>();
    for (int i = 0; i < entries; ++i) {
        auto item = std::make_unique<CItem>();
        item->m_strAddress = "host-" + std::to_string(i) + ".invalid";
        list->AddTail(std::move(item));
    }
    return list;
}

TEST(ListFileSave, ReplacesAnExistingFileWholeAndKeepsItsPermissionBits) {
    TempDir dir;
    const auto path = dir.file("list.pwk");
    WriteFileBytes(path, Bytes(5000, 0xAB)); // longer than what replaces it
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const auto result = SaveListFile(*samples::TwoEntryList(), path.string());
    ASSERT_TRUE(result.Succeeded()) << result.message;
    // The new file is exactly the list: old bytes do not linger after its end.
    EXPECT_EQ(ReadFileBytes(path), samples::TwoEntryCurrent());
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(FilesIn(dir.path()), 1u) << "no temporary file is left behind";
}

TEST(ListFileSave, ANewFileGetsTheUsualModeForTheUmask) {
    TempDir dir;
    const mode_t old = ::umask(027);
    const auto result = SaveListFile(CItemList(), dir.file("new.pwk").string());
    ::umask(old);
    ASSERT_TRUE(result.Succeeded()) << result.message;
    EXPECT_EQ(ModeOf(dir.file("new.pwk")), 0640u);
}

TEST(ListFileSave, ASymbolicLinkIsFollowedAndStaysALink) {
    TempDir dir;
    fs::create_directory(dir.file("real"));
    const auto target = dir.file("real") / "list.pwk";
    WriteFileBytes(target, {0x00, 0x00});
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    fs::create_symlink("real/list.pwk", dir.file("link.pwk")); // relative to the link's folder
    fs::create_symlink(dir.file("link.pwk"), dir.file("link2.pwk"));

    const auto result = SaveListFile(*samples::TwoEntryList(), dir.file("link2.pwk").string());
    ASSERT_TRUE(result.Succeeded()) << result.message;
    EXPECT_TRUE(fs::is_symlink(dir.file("link.pwk")));
    EXPECT_TRUE(fs::is_symlink(dir.file("link2.pwk")));
    EXPECT_EQ(ReadFileBytes(target), samples::TwoEntryCurrent());
    EXPECT_EQ(ModeOf(target), 0600u);

    // A link to a file not made yet creates that file.
    fs::create_symlink("real/later.pwk", dir.file("dangling.pwk"));
    ASSERT_TRUE(SaveListFile(CItemList(), dir.file("dangling.pwk").string()).Succeeded());
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling.pwk")));
    EXPECT_EQ(ReadFileBytes(dir.file("real") / "later.pwk").size(), 94u);

    fs::create_symlink("loop.pwk", dir.file("loop.pwk"));
    const auto loop = SaveListFile(CItemList(), dir.file("loop.pwk").string());
    EXPECT_EQ(loop.error, ELOOP);
}

void ExpectReadOnlyRefused(const fs::path& path) {
    const auto result = SaveListFile(*samples::TwoEntryList(), path.string());
    EXPECT_EQ(result.status, ListFileStatus::fileError);
    EXPECT_EQ(result.error, EACCES);
    EXPECT_EQ(result.message, "Opening " + path.string() + " failed (returned a 0xd).");
}

TEST(ListFileSave, AReadOnlyFileIsRefusedAndLeftUntouched) {
    TempDir dir;
    const auto path = dir.file("ro.pwk");
    const Bytes old = samples::TwoEntryOld();
    WriteFileBytes(path, old);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ExpectReadOnlyRefused(path); // as root too: no write bit means read-only
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(ModeOf(path), 0444u);
    EXPECT_EQ(FilesIn(dir.path()), 1u);

    if (::geteuid() != 0)
        return;
    // An ordinary user is refused by the system for a file that others may write.
    fs::permissions(dir.path(), fs::perms::all);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const int code = InChild([&] {
        if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
            return 3;
        const auto result = SaveListFile(CItemList(), path.string());
        return result.error == EACCES && result.message == "Opening " + path.string() + " failed (returned a 0xd)." ? 0
                                                                                                                    : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(path), old);
}

TEST(ListFileSave, FolderProblemsAreFileErrors) {
    TempDir dir;
    const std::string inMissing = (dir.file("no-such-folder") / "x.pwk").string();
    const auto missing = SaveListFile(CItemList(), inMissing);
    EXPECT_EQ(missing.message, "Opening " + inMissing + " failed (returned a 0x2).");

    const auto folder = SaveListFile(CItemList(), dir.path().string());
    EXPECT_EQ(folder.message, "Opening " + dir.path().string() + " failed (returned a 0x15).");
}

TEST(ListFileSave, AFailedWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const auto path = dir.file("list.pwk");
    const Bytes old = samples::TwoEntryCurrent();
    WriteFileBytes(path, old);
    // A file size limit stands in for a full disk: the write fails part-way with EFBIG.
    const int code = InChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8192, 8192};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto result = SaveListFile(*BigList(2000), path.string());
        return result.status == ListFileStatus::fileError && result.error == EFBIG &&
                       result.message == "Opening " + path.string() + " failed (returned a 0x1b)."
                   ? 0
                   : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(FilesIn(dir.path()), 1u) << "the partial temporary file is removed";
}

bool BecomeNobody() {
    const passwd* nobody = ::getpwnam("nobody");
    return nobody && ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0;
}

TEST(ListFileSave, AKilledSaveLeavesNoTemporaryFile) {
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const auto path = dir.file("list.pwk");
    const Bytes old = samples::TwoEntryOld();
    WriteFileBytes(path, old);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    // As root the unnamed file is linked directly; an ordinary user links it through /proc.
    const bool root = ::geteuid() == 0;
    for (const bool asNobody : {false, root}) {
        const int code = InChild([&] {
            if (asNobody && !BecomeNobody())
                return 3;
            // The file size limit stops the save part-way, and its signal ends the process as
            // a kill would: nothing of the program runs after it.
            std::signal(SIGXFSZ, [](int) { ::kill(::getpid(), SIGKILL); });
            const rlimit limit{8192, 8192};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            SaveListFile(*BigList(2000), path.string());
            return 0;
        });
        EXPECT_EQ(code, 128 + SIGKILL) << asNobody;
        EXPECT_EQ(ReadFileBytes(path), old);
        EXPECT_EQ(FilesIn(dir.path()), 1u) << "as nobody: " << asNobody;

        const int saved = InChild([&] {
            if (asNobody && !BecomeNobody())
                return 3;
            return SaveListFile(*samples::TwoEntryList(), path.string()).Succeeded() ? 0 : 1;
        });
        EXPECT_EQ(saved, 0);
        EXPECT_EQ(ReadFileBytes(path), samples::TwoEntryCurrent());
        EXPECT_EQ(ModeOf(path), 0666u);
        EXPECT_EQ(FilesIn(dir.path()), 1u);
        WriteFileBytes(path, old);
    }
}

// Meets every rename of the calling process with action instead.
bool FilterRenames(std::uint32_t action) {
#ifdef __NR_rename
    return testsupport::FilterSyscalls({__NR_rename, __NR_renameat, __NR_renameat2}, action);
#else
    return testsupport::FilterSyscalls({__NR_renameat, __NR_renameat2}, action);
#endif
}

bool WaitForFiles(const fs::path& folder, std::size_t count) {
    for (int waited = 0; FilesIn(folder) != count; ++waited) {
        if (waited == 2000)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST(ListFileSave, TheNextSaveRemovesWhatASaveKilledBeforeItsRenameLeftButNotALiveSaversFileNorLookalikes) {
    TempDir dir;
    const auto path = dir.file("list.pwk");
    WriteFileBytes(path, samples::TwoEntryOld());
    // Killed at its rename, when the complete temporary file has a name.
    const int killed = InChild([&] {
        if (!FilterRenames(SECCOMP_RET_KILL_PROCESS))
            return 100;
        SaveListFile(*samples::TwoEntryList(), path.string());
        return 0;
    });
    if (killed == 100)
        GTEST_SKIP() << "no seccomp filter can be installed here";
    ASSERT_EQ(killed, 128 + SIGSYS);
    ASSERT_EQ(FilesIn(dir.path()), 2u) << "the killed save left its temporary file";
    // Files of a person that only look like one, the last a copy of it with every attribute.
    const std::string copy = dir.file(".list.pwk.zzzzzzzz.tmp");
    ASSERT_EQ(testsupport::RunProgram({"/bin/sh", "-c", "cp -a " + dir.path().string() + "/.list.pwk.*.tmp " + copy}),
              0);
    std::vector<Bytes> kept{Bytes{'n'}, Bytes{'o'}, ReadFileBytes(copy)};
    WriteFileBytes(dir.file(".list.pwk.20241207.tmp"), kept[0]);
    WriteFileBytes(dir.file(".list.pwk.a1b2c3d4.tmp"), kept[1]);

    // A saver that lives on, held at its rename; it saves without the list's lock, as the
    // monitor's metrics file is saved.
    const std::string liveText = "live";
    const pid_t live = ::fork();
    if (live == 0) {
        ::alarm(60);
        std::signal(SIGSYS, [](int) {
            for (;;)
                ::pause();
        });
        CAtomicFile file(path.string());
        if (FilterRenames(SECCOMP_RET_TRAP) && file.Open() == 0 &&
            ::write(file.Descriptor(), liveText.data(), liveText.size()) == static_cast<ssize_t>(liveText.size()))
            file.Commit();
        ::_exit(1);
    }
    ASSERT_GT(live, 0);
    const bool waiting = WaitForFiles(dir.path(), 6);
    const bool saved = waiting && SaveListFile(*samples::TwoEntryList(), path.string()).Succeeded();
    std::vector<Bytes> left;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path() != path)
            left.push_back(ReadFileBytes(entry.path()));
    ::kill(live, SIGKILL);
    ::waitpid(live, nullptr, 0);
    ASSERT_TRUE(waiting) << "the live saver did not reach its rename";
    EXPECT_TRUE(saved);
    EXPECT_EQ(ReadFileBytes(path), samples::TwoEntryCurrent());
    kept.push_back(Bytes(liveText.begin(), liveText.end()));
    std::sort(left.begin(), left.end());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(left, kept) << "only the live saver's file and the lookalikes stay";

    // Now that saver is gone too.
    EXPECT_TRUE(SaveListFile(*samples::TwoEntryList(), path.string()).Succeeded());
    EXPECT_EQ(FilesIn(dir.path()), 4u);
}

TEST(ListFileSave, AFifoWithoutAReaderFailsAtOnce) {
    TempDir dir;
    const auto fifo = dir.file("pipe.pwk");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int code = InChild(
        [&] {
            const auto result = SaveListFile(*samples::TwoEntryList(), fifo.string());
            return result.error == ENXIO && result.message == "Opening " + fifo.string() + " failed (returned a 0x6)."
                       ? 0
                       : 1;
        },
        10);
    EXPECT_EQ(code, 0) << "14 + 128: the save waited for a reader";
}

// Another editor holds the list throughout: loading and saving each give up after the wait.
TEST(ListFileLock, ALockedListIsReportedAfterAShortWait) {
    TempDir dir;
    const auto path = dir.file("list.pwk");
    WriteFileBytes(path, samples::TwoEntryCurrent());
    CListFileLock other;
    ASSERT_EQ(other.Open(path.string(), CListFileLock::Mode::exclusive), 0);
    ASSERT_TRUE(other.IsLocked());

    const auto start = std::chrono::steady_clock::now();
    auto load = std::async(std::launch::async, [&] { return LoadListFile(path.string()); });
    auto save = std::async(std::launch::async, [&] { return SaveListFile(CItemList(), path.string()); });
    const ListFileLoadResult loaded = load.get();
    const ListFileSaveResult saved = save.get();
    EXPECT_GE(std::chrono::steady_clock::now() - start, CListFileLock::kWait * 9 / 10);

    EXPECT_EQ(loaded.status, ListFileStatus::fileError);
    EXPECT_EQ(loaded.error, EWOULDBLOCK);
    EXPECT_EQ(loaded.message, "Loading " + path.string() + " failed (returned a 0xb).");
    EXPECT_EQ(saved.error, EWOULDBLOCK);
    EXPECT_EQ(saved.message, "Opening " + path.string() + " failed (returned a 0xb).");
    EXPECT_EQ(ReadFileBytes(path), samples::TwoEntryCurrent());

    other.Release();
    EXPECT_TRUE(LoadListFile(path.string()).HasList());
}

TEST(ListFileSave, ACharacterDeviceIsWrittenInPlace) {
    const auto result = SaveListFile(*samples::TwoEntryList(), "/dev/null");
    EXPECT_TRUE(result.Succeeded()) << result.message;
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

} // namespace
