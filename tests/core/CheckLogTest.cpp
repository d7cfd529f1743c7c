#include "CheckLog.h"
#include "CItem.h"
#include "InChild.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <regex>
#include <string>

using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

CItem Entry(std::int32_t connect, const std::string& address, std::int32_t port) {
    CItem item;
    item.m_bConnect = connect;
    item.m_strAddress = address;
    item.m_nPort = port;
    return item;
}

std::string ReadText(const std::filesystem::path& path) {
    const auto bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

} // namespace

TEST(CheckLog, LineBytesAreExact) {
    std::tm when{};
    when.tm_year = 97;
    when.tm_mon = 3;
    when.tm_mday = 21;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 3;
    EXPECT_EQ(FormatCheckLogLine(&when, Entry(0, "10.0.0.1", 0), 0), "4/21/97 9:05:03, 0, \"10.0.0.1\", 0, 0\r\n");

    // Two-digit year after 2000, midnight, two-digit month and day; the port is written for
    // ICMP entries as well, and kind and port are signed.
    when = {};
    when.tm_year = 126;
    when.tm_mon = 11;
    when.tm_mday = 7;
    when.tm_hour = 0;
    when.tm_min = 0;
    when.tm_sec = 59;
    EXPECT_EQ(FormatCheckLogLine(&when, Entry(1, "mail.invalid", 25), 1),
              "12/7/26 0:00:59, 1, \"mail.invalid\", 1, 25\r\n");
    when.tm_year = 100;
    EXPECT_EQ(FormatCheckLogLine(&when, Entry(-3, "h", -1), 0), "12/7/00 0:00:59, 0, \"h\", -3, -1\r\n");

    // A double quote in the address is written as it is; no time gives an empty stamp.
    EXPECT_EQ(FormatCheckLogLine(nullptr, Entry(0, "a\"b", 7), 1), ", 1, \"a\"b\", 0, 7\r\n");
}

TEST(CheckLog, AppendCreatesThenOnlyExtends) {
    TempDir dir;
    const auto path = dir.file("check.log");
    AppendCheckLog(path.string(), Entry(0, "10.0.0.1", 0), 0);
    ASSERT_TRUE(std::filesystem::exists(path));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0600, 0600u);

    AppendCheckLog(path.string(), Entry(1, "10.0.0.2", 25), 1);
    const std::string text = ReadText(path);
    const std::regex expected(R"(\d{1,2}/\d{1,2}/\d\d \d{1,2}:\d\d:\d\d, 0, "10\.0\.0\.1", 0, 0\r\n)"
                              R"(\d{1,2}/\d{1,2}/\d\d \d{1,2}:\d\d:\d\d, 1, "10\.0\.0\.2", 1, 25\r\n)");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST(CheckLog, ExistingContentIsKept) {
    TempDir dir;
    const auto path = dir.file("check.log");
    testsupport::WriteFileBytes(path, {'o', 'l', 'd', '\n'});
    AppendCheckLog(path.string(), Entry(0, "x", 0), 1);
    EXPECT_EQ(ReadText(path).rfind("old\n", 0), 0u);
    EXPECT_GT(ReadText(path).size(), 4u);
}

TEST(CheckLog, UnusablePathsAreSilentlyIgnored) {
    TempDir dir;
    AppendCheckLog("", Entry(0, "x", 0), 0);
    AppendCheckLog(dir.file("missing-folder/check.log").string(), Entry(0, "x", 0), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing-folder")));
    AppendCheckLog(dir.path().string(), Entry(0, "x", 0), 0); // a folder

    // A FIFO nobody reads must not hang the worker.
    const auto fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    AppendCheckLog(fifo.string(), Entry(0, "x", 0), 0);
}

TEST(CheckLog, AWriteThatStopsPartWayLeavesOnlyWholeLines) {
    // A file size limit stands for a full disk: the write stops where the room ends (EFBIG
    // once SIGXFSZ is ignored, as ENOSPC would).
    const std::string old = "old line\r\n";
    const CItem entry = Entry(1, "10.0.0.1", 25);
    const std::size_t lineLength = FormatCheckLogLine(nullptr, entry, 0).size();
    for (const std::size_t room : {std::size_t{0}, std::size_t{1}, std::size_t{10}, lineLength - 1}) {
        SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
        TempDir dir;
        const auto path = dir.file("check.log");
        testsupport::WriteFileBytes(path, {old.begin(), old.end()});
        const int code = testsupport::InChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            const rlimit full{static_cast<rlim_t>(old.size() + room), limit.rlim_max};
            if (::setrlimit(RLIMIT_FSIZE, &full) != 0)
                return 1;
            AppendCheckLog(path.string(), entry, 0); // does not fit
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 2;
            AppendCheckLog(path.string(), entry, 1); // room again
            return 0;
        });
        ASSERT_EQ(code, 0);
        const std::string text = ReadText(path);
        const std::regex expected(R"(old line\r\n\d{1,2}/\d{1,2}/\d\d \d{1,2}:\d\d:\d\d, 1, "10\.0\.0\.1", 1, 25\r\n)");
        EXPECT_TRUE(std::regex_match(text, expected)) << text;
    }
}
