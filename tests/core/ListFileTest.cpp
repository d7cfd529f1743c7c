#include "ListFile.h"
#include "InChild.h"
#include "ListFileSamples.h"
#include "SanitizerBuild.h"
#include "TempDir.h"
#include "UniqueFd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using samples::Bytes;
using testsupport::InChild;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

ListFileLoadResult LoadBytes(const TempDir& dir, const Bytes& bytes, const std::string& name = "in.pwk") {
    const auto path = dir.file(name);
    WriteFileBytes(path, bytes);
    return LoadListFile(path.string());
}

Bytes SaveToBytes(const TempDir& dir, const CItemList& list) {
    const auto path = dir.file("out.pwk");
    const auto result = SaveListFile(list, path.string());
    EXPECT_TRUE(result.Succeeded()) << result.message;
    return ReadFileBytes(path);
}

void ExpectTwoEntryList(const CItemList& list) {
    EXPECT_EQ(list.m_nPeriod, 15);
    EXPECT_EQ(list.m_nPause, 5);
    EXPECT_EQ(list.m_nComPort, 1);
    EXPECT_EQ(list.m_bMail, 0);
    EXPECT_EQ(list.m_strServer, "127.0.0.1");
    EXPECT_EQ(list.m_strFrom, "");
    EXPECT_EQ(list.m_strTo, "");
    EXPECT_EQ(list.m_strSubject, "");
    EXPECT_EQ(list.m_strModemInit, "AT Q0 E0 M0 V0");
    EXPECT_EQ(list.m_strPagerNumber, "5551234");
    ASSERT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(list.GetAt(0).m_bResult, 1);
    EXPECT_EQ(list.GetAt(0).m_bConnect, 0);
    EXPECT_EQ(list.GetAt(0).m_strAddress, "10.0.0.1");
    EXPECT_EQ(list.GetAt(0).m_nPort, 80);
    EXPECT_EQ(list.GetAt(1).m_bResult, 0);
    EXPECT_EQ(list.GetAt(1).m_bConnect, 1);
    EXPECT_EQ(list.GetAt(1).m_strAddress, "10.0.0.2");
    EXPECT_EQ(list.GetAt(1).m_nPort, 25);
}

TEST(ListFileLayout, TheTwoEntryListSavesAs149Bytes) {
    TempDir dir;
    EXPECT_EQ(SaveToBytes(dir, *samples::TwoEntryList()), samples::TwoEntryCurrent());
}

TEST(ListFileLayout, BothLayoutsLoadAndTheOldOneSavesAsCurrent) {
    TempDir dir;
    ASSERT_EQ(samples::TwoEntryOld().size(), 128u);
    for (const auto& bytes : {samples::TwoEntryCurrent(), samples::TwoEntryOld()}) {
        const auto result = LoadBytes(dir, bytes);
        ASSERT_TRUE(result.HasList()) << result.message << " " << result.causeText;
        ExpectTwoEntryList(*result.list);
        EXPECT_EQ(SaveToBytes(dir, *result.list), samples::TwoEntryCurrent());
    }
}

TEST(ListFileLayout, ANewListSavesAs94BytesEndingWithAnEmptyCount) {
    TempDir dir;
    Bytes expected = samples::TwoEntryCurrent();
    expected.resize(92);
    expected.insert(expected.end(), {0x00, 0x00});
    EXPECT_EQ(SaveToBytes(dir, CItemList()), expected);
}

TEST(ListFileLayout, EntryCountsSwitchToSixBytesAt65535) {
    TempDir dir;
    CItemList list;
    for (int i = 0; i < 65534; ++i)
        list.AddTail(std::make_unique<CItem>());
    Bytes bytes = SaveToBytes(dir, list);
    EXPECT_EQ(Bytes(bytes.begin() + 92, bytes.begin() + 94), (Bytes{0xFE, 0xFF}));
    list.AddTail(std::make_unique<CItem>());
    bytes = SaveToBytes(dir, list);
    EXPECT_EQ(Bytes(bytes.begin() + 92, bytes.begin() + 98), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
    const auto loaded = LoadBytes(dir, bytes);
    ASSERT_TRUE(loaded.HasList());
    EXPECT_EQ(loaded.list->GetCount(), 65535u);
}

TEST(ListFileLayout, EverySettingAndEntryRoundTrips) {
    TempDir dir;
    CItemList list;
    list.m_strLogFile = "/var/log/pulsewick.log";
    list.m_nLogMode = 2;
    list.m_bPopup = 1;
    list.m_strSoundFile = std::string(300, 's');
    list.m_strExecute = "notify-send \"down\"";
    list.m_bPager = -7;
    list.m_nPeriod = 100000;
    list.m_bStartAuto = 1;
    list.m_strModemInit = "";
    list.m_strMessageCode = "911";
    list.m_strPagerNumber = std::string(70000, '9');
    list.m_nPause = 50;
    list.m_nComPort = -1;
    list.m_bMail = 1;
    list.m_strSubject = "caf\xC3\xA9 \xFF";
    list.m_strTo = "ops@localhost";
    list.m_strServer = "localhost";
    list.m_strFrom = std::string("nul\0byte", 8);
    for (int i = 0; i < 3; ++i) {
        auto item = std::make_unique<CItem>();
        item->m_bResult = i == 1;
        item->m_bConnect = i;
        item->m_strAddress = i == 2 ? "" : "host" + std::to_string(i);
        item->m_nPort = i == 0 ? -5 : 65536 + i;
        list.AddTail(std::move(item));
    }
    list.AddTail(std::make_unique<CItem>()); // two equal entries stay two entries
    list.AddTail(std::make_unique<CItem>());

    const Bytes saved = SaveToBytes(dir, list);
    const auto result = LoadBytes(dir, saved);
    ASSERT_TRUE(result.HasList()) << result.causeText;
    // The field order itself is pinned by the examples above; here every value must survive.
    EXPECT_EQ(SaveToBytes(dir, *result.list), saved);
    const CItemList& back = *result.list;
    EXPECT_EQ(back.m_strSoundFile, list.m_strSoundFile);
    EXPECT_EQ(back.m_strPagerNumber, list.m_strPagerNumber);
    EXPECT_EQ(back.m_strFrom, list.m_strFrom);
    EXPECT_EQ(back.m_nComPort, -1);
    EXPECT_EQ(back.m_bPager, -7);
    ASSERT_EQ(back.GetCount(), 5u);
    EXPECT_EQ(back.GetAt(0).m_nPort, -5);
    EXPECT_EQ(back.GetAt(1).m_bResult, 1);
    EXPECT_EQ(back.GetAt(2).m_strAddress, "");
    EXPECT_EQ(back.GetAt(2).m_bConnect, 2);
}

TEST(ListFileLayout, WideStringsInAFileArriveAsUtf8) {
    TempDir dir;
    Bytes bytes = samples::TwoEntryCurrent();
    // Replace the first address "10.0.0.1" (offset 113) by the wide string "Zürich".
    Bytes wide = {0xFF, 0xFE, 0xFF, 0x06, 'Z', 0, 0xFC, 0, 'r', 0, 'i', 0, 'c', 0, 'h', 0};
    bytes.erase(bytes.begin() + 113, bytes.begin() + 122);
    bytes.insert(bytes.begin() + 113, wide.begin(), wide.end());
    const auto result = LoadBytes(dir, bytes);
    ASSERT_TRUE(result.HasList()) << result.causeText;
    EXPECT_EQ(result.list->GetAt(0).m_strAddress, "Z\xC3\xBCrich");
    EXPECT_EQ(result.list->GetAt(1).m_strAddress, "10.0.0.2");
}

TEST(ListFileLoad, TwoZeroBytesHoldNoListAndTrailingBytesAreIgnored) {
    TempDir dir;
    const auto none = LoadBytes(dir, {0x00, 0x00, 0x42});
    EXPECT_EQ(none.status, ListFileStatus::noList);
    EXPECT_EQ(none.list, nullptr);
    EXPECT_EQ(none.message, "");

    Bytes padded = samples::TwoEntryCurrent();
    padded.insert(padded.end(), 500, 0xEE);
    const auto result = LoadBytes(dir, padded);
    ASSERT_TRUE(result.HasList());
    ExpectTwoEntryList(*result.list);
}

// Loads bytes that must fail with cause; checks both texts.
void ExpectCorrupt(const TempDir& dir, const Bytes& bytes, ArchiveCause cause, const std::string& context = "") {
    const auto result = LoadBytes(dir, bytes, "bad.pwk");
    ASSERT_EQ(result.status, ListFileStatus::archiveError) << context;
    EXPECT_EQ(result.list, nullptr);
    EXPECT_EQ(result.cause, cause) << context;
    EXPECT_EQ(result.message, "Error: Load failure.  File may be corrupted.");
    const std::string full = std::filesystem::canonical(dir.path()).string() + "/bad.pwk";
    switch (cause) {
    case ArchiveCause::endOfFile:
        EXPECT_EQ(result.causeText, "An attempt was made to access an unnamed file past its end.") << context;
        break;
    case ArchiveCause::badIndex:
        EXPECT_EQ(result.causeText, full + " has a bad format.") << context;
        break;
    case ArchiveCause::badClass:
        EXPECT_EQ(result.causeText, full + " contained an unexpected object.") << context;
        break;
    case ArchiveCause::badSchema:
        EXPECT_EQ(result.causeText, full + " contains an incorrect schema.") << context;
        break;
    }
}

TEST(ListFileCorrupt, ACutAnywhereFailsWithEndOfFileExceptInsideAClassName) {
    TempDir dir;
    const Bytes whole = samples::TwoEntryCurrent();
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const bool inClassName = (length >= 6 && length < 15) || (length >= 100 && length < 105);
        ExpectCorrupt(dir, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)),
                      inClassName ? ArchiveCause::badClass : ArchiveCause::endOfFile,
                      "cut at " + std::to_string(length));
    }
}

TEST(ListFileCorrupt, TheTopObjectMustBeAListOfSchemaZero) {
    TempDir dir;
    const Bytes whole = samples::TwoEntryCurrent();
    for (std::size_t i = 6; i < 15; ++i) {
        Bytes bytes = whole;
        bytes[i] ^= 0x20; // the same name with one letter in the other case
        ExpectCorrupt(dir, bytes, ArchiveCause::badClass, "letter " + std::to_string(i));
    }
    Bytes schema = whole;
    schema[2] = 1;
    ExpectCorrupt(dir, schema, ArchiveCause::badSchema);

    Bytes item = {0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00, 'C', 'I', 't', 'e', 'm'};
    item.resize(200, 0);
    ExpectCorrupt(dir, item, ArchiveCause::badClass);

    ExpectCorrupt(dir, {0x01, 0x80, 0, 0, 0, 0}, ArchiveCause::badIndex);             // class tag, empty table
    ExpectCorrupt(dir, {0x01, 0x00, 0, 0, 0, 0}, ArchiveCause::badIndex);             // reference to entry 1
    ExpectCorrupt(dir, {0xFF, 0x7F, 0x03, 0x00, 0x00, 0x00}, ArchiveCause::badIndex); // long reference
    ExpectCorrupt(dir, {0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80}, ArchiveCause::badIndex); // long class tag
    EXPECT_EQ(LoadBytes(dir, {0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00}).status, ListFileStatus::noList);
}

TEST(ListFileCorrupt, TheEntryListHoldsOnlyNewEntries) {
    TempDir dir;
    // Replaces the second entry's tag (offset 126) with tag.
    const auto secondTag = [](Bytes tag) {
        Bytes bytes = samples::TwoEntryCurrent();
        bytes.erase(bytes.begin() + 126, bytes.begin() + 128);
        bytes.insert(bytes.begin() + 126, tag.begin(), tag.end());
        bytes.resize(bytes.size() + 100, 0);
        return bytes;
    };
    ExpectCorrupt(dir, secondTag({0x00, 0x00}), ArchiveCause::badIndex); // no object
    ExpectCorrupt(dir, secondTag({0x02, 0x00}), ArchiveCause::badClass); // the list itself
    ExpectCorrupt(dir, secondTag({0x04, 0x00}), ArchiveCause::badClass); // the first entry again
    ExpectCorrupt(dir, secondTag({0x01, 0x00}), ArchiveCause::badIndex); // a class, as an object
    ExpectCorrupt(dir, secondTag({0x01, 0x80}), ArchiveCause::badClass); // a second list
    ExpectCorrupt(dir, secondTag({0x02, 0x80}), ArchiveCause::badIndex); // an object, as a class
    ExpectCorrupt(dir, secondTag({0x04, 0x80}), ArchiveCause::badIndex); // an entry, as a class
    ExpectCorrupt(dir, secondTag({0x05, 0x80}), ArchiveCause::badIndex); // beyond the table

    Bytes list = {0xFF, 0xFF, 0x00, 0x00, 0x09, 0x00, 'C', 'I', 't', 'e', 'm', 'L', 'i', 's', 't'};
    ExpectCorrupt(dir, secondTag(list), ArchiveCause::badClass); // a new class record of the list
    Bytes schema = samples::TwoEntryCurrent();
    schema[96] = 1;
    ExpectCorrupt(dir, schema, ArchiveCause::badSchema);
}

TEST(ListFileCorrupt, HostileLengthsFailAtOnceWithoutAllocating) {
    if (testsupport::kShadowMemory)
        GTEST_SKIP() << "limits the address space, which the sanitizer's shadow memory fills";
    TempDir dir;
    // A string that claims 4 GB, and an entry count of 0xFFFFFFFF, each in a 100-byte file.
    Bytes longString = samples::TwoEntryCurrent();
    longString.resize(19);
    longString.insert(longString.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    longString.resize(100, 'x');
    Bytes wideString = samples::TwoEntryCurrent();
    wideString.resize(19);
    wideString.insert(wideString.end(), {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    wideString.resize(100, 'x');
    Bytes manyEntries = samples::TwoEntryCurrent();
    manyEntries.resize(92);
    manyEntries.insert(manyEntries.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    manyEntries.resize(100, 0xFF); // and the start of a first entry

    // In a child with little address space, an allocation of gigabytes would fail loudly.
    for (const Bytes* bytes : {&longString, &wideString, &manyEntries}) {
        const auto path = dir.file("hostile.pwk");
        WriteFileBytes(path, *bytes);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit limit{256u << 20, 256u << 20};
            ::setrlimit(RLIMIT_AS, &limit);
            try {
                const auto result = LoadListFile(path.string());
                ::_exit(result.status == ListFileStatus::archiveError && result.cause == ArchiveCause::endOfFile ? 0
                                                                                                                 : 1);
            } catch (...) {
                ::_exit(2);
            }
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << bytes->size();
    }
}

TEST(ListFileLoad, FileErrorsCarryTheErrno) {
    TempDir dir;
    const std::string missing = dir.file("missing.pwk").string();
    const auto gone = LoadListFile(missing);
    EXPECT_EQ(gone.status, ListFileStatus::fileError);
    EXPECT_EQ(gone.error, ENOENT);
    EXPECT_EQ(gone.message, "Loading " + missing + " failed (returned a 0x2).");

    const auto folder = LoadListFile(dir.path().string());
    EXPECT_EQ(folder.status, ListFileStatus::fileError);
    EXPECT_EQ(folder.message, "Loading " + dir.path().string() + " failed (returned a 0x15).");
}

TEST(ListFileLoad, APipeLoadsLikeAFileAndOneWithoutAWriterLikeAnEmptyFile) {
    TempDir dir;
    const auto fifo = dir.file("pipe.pwk");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nobody writes: the load reads nothing, as from an empty file, instead of waiting.
    const int code = InChild(
        [&] {
            const auto result = LoadListFile(fifo.string());
            return result.status == ListFileStatus::archiveError && result.cause == ArchiveCause::endOfFile ? 0 : 1;
        },
        10);
    EXPECT_EQ(code, 0) << "14 + 128: the load waited for a writer";

    // A writer that came and went: the bytes wait in the pipe, which a reader keeps open.
    const UniqueFd keeper(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(keeper);
    {
        const Bytes bytes = samples::TwoEntryCurrent();
        const UniqueFd writer(::open(fifo.c_str(), O_WRONLY));
        ASSERT_EQ(::write(writer.Get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    const int loaded = InChild(
        [&] {
            const auto result = LoadListFile(fifo.string());
            return result.HasList() && result.list->GetCount() == 2 && result.list->GetAt(1).m_nPort == 25 ? 0 : 1;
        },
        10);
    EXPECT_EQ(loaded, 0);
}

TEST(ListFileLoad, APipeWhoseWriterFallsSilentEndsThere) {
    TempDir dir;
    const auto fifo = dir.file("pipe.pwk");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Bytes list = samples::TwoEntryCurrent();
    // A writer that stays but writes nothing more: the load takes what came as the whole file.
    for (const std::size_t sent : {std::size_t{0}, list.size() / 2, list.size()}) {
        SCOPED_TRACE(std::to_string(sent) + " bytes sent");
        const UniqueFd writer(::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        ASSERT_TRUE(writer);
        ASSERT_EQ(::write(writer.Get(), list.data(), sent), static_cast<ssize_t>(sent));
        const int code = InChild(
            [&] {
                ::close(writer.Get()); // the writer is the test's alone
                const auto result = LoadListFile(fifo.string());
                if (sent < list.size())
                    return result.status == ListFileStatus::archiveError && result.cause == ArchiveCause::endOfFile ? 0
                                                                                                                    : 1;
                return result.HasList() && result.list->GetCount() == 2 ? 0 : 1;
            },
            30);
        EXPECT_EQ(code, 0) << "14 + 128: the load waited for the writer for ever";
    }
}

TEST(ListFileLoad, AnEndlessStreamEndsAsACutFile) {
    // Bounded, so the temporary copy stops; the child's alarm catches an unbounded one.
    const int code = InChild(
        [] {
            const auto result = LoadListFile("/dev/zero");
            return result.status == ListFileStatus::archiveError && result.cause == ArchiveCause::endOfFile &&
                           result.message == "Error: Load failure.  File may be corrupted." &&
                           result.causeText == "An attempt was made to access an unnamed file past its end."
                       ? 0
                       : 1;
        },
        20);
    EXPECT_EQ(code, 0);
}

std::size_t AddressSpaceInUse() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0)
            return std::stoul(line.substr(7)) * 1024; // given in kB
    }
    return 0;
}

TEST(ListFileLoad, ALongStringIsHeldOnceWhileLoading) {
    if (testsupport::kShadowMemory)
        GTEST_SKIP() << "limits the address space, which the sanitizer's shadow memory fills";
    TempDir dir;
    constexpr std::uint32_t kLength = 48u << 20;
    Bytes bytes = samples::TwoEntryCurrent();
    bytes.resize(19); // up to m_strSoundFile, which takes the rest of the file
    bytes.insert(bytes.end(), {0xFF, 0xFF, 0xFF});
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<unsigned char>(kLength >> shift));
    bytes.resize(bytes.size() + kLength, 'x');
    const auto path = dir.file("long.pwk");
    WriteFileBytes(path, bytes);
    bytes = Bytes();

    // Room for the string once and a half: a second copy of it cannot be made.
    const int code = InChild([&] {
        const rlim_t room = AddressSpaceInUse() + kLength + kLength / 2;
        const rlimit limit{room, room};
        ::setrlimit(RLIMIT_AS, &limit);
        const auto result = LoadListFile(path.string()); // the file ends after the string
        return result.status == ListFileStatus::archiveError && result.cause == ArchiveCause::endOfFile ? 0 : 1;
    });
    EXPECT_EQ(code, 0) << "99: the load ran out of memory";
}

} // namespace
