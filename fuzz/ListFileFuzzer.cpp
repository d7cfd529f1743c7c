// Feeds arbitrary bytes to the list file reader through the same calls the programs use, and
// checks the round trip of whatever loads: saving it and loading that gives an equal list, and
// saving again gives the same bytes.

#include "CItemList.h"
#include "ListFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::filesystem::path g_folder; // private scratch folder, in memory where possible

void Fail(const char* what) {
    std::fprintf(stderr, "round trip failed: %s\n", what);
    std::abort();
}

void WriteAll(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        Fail("cannot write the input file");
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            Fail("cannot write the input file");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

std::vector<char> ReadAll(const std::filesystem::path& path) {
    std::vector<char> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        Fail("cannot read the saved file");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    return bytes;
}

bool SameItem(const CItem& a, const CItem& b) {
    return a.m_bResult == b.m_bResult && a.m_bConnect == b.m_bConnect && a.m_strAddress == b.m_strAddress &&
           a.m_nPort == b.m_nPort;
}

bool SameList(const CItemList& a, const CItemList& b) {
    if (a.m_strLogFile != b.m_strLogFile || a.m_nLogMode != b.m_nLogMode || a.m_bPopup != b.m_bPopup ||
        a.m_strSoundFile != b.m_strSoundFile || a.m_strExecute != b.m_strExecute || a.m_bPager != b.m_bPager ||
        a.m_nPeriod != b.m_nPeriod || a.m_bStartAuto != b.m_bStartAuto || a.m_strModemInit != b.m_strModemInit ||
        a.m_strMessageCode != b.m_strMessageCode || a.m_strPagerNumber != b.m_strPagerNumber ||
        a.m_nPause != b.m_nPause || a.m_nComPort != b.m_nComPort || a.m_bMail != b.m_bMail ||
        a.m_strSubject != b.m_strSubject || a.m_strTo != b.m_strTo || a.m_strServer != b.m_strServer ||
        a.m_strFrom != b.m_strFrom || a.GetCount() != b.GetCount())
        return false;
    for (std::size_t i = 0; i < a.GetCount(); ++i) {
        if (!SameItem(a.GetAt(i), b.GetAt(i)))
            return false;
    }
    return true;
}

void RemoveFolder() {
    std::error_code ec;
    std::filesystem::remove_all(g_folder, ec);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string pattern = (base / "pulsewick-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        Fail("cannot make the scratch folder");
    g_folder = pattern;
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = g_folder / "input.pwk";
    const auto saved = g_folder / "saved.pwk";
    WriteAll(input, data, size);
    const ListFileLoadResult first = LoadListFile(input.string());
    if (!first.HasList())
        return 0;

    if (!SaveListFile(*first.list, saved.string()).Succeeded())
        Fail("a loaded list does not save");
    const std::vector<char> bytes = ReadAll(saved);
    const ListFileLoadResult second = LoadListFile(saved.string());
    if (!second.HasList())
        Fail("a saved list does not load");
    if (!SameList(*first.list, *second.list))
        Fail("the list changed on the way through the file");
    if (!SaveListFile(*second.list, saved.string()).Succeeded() || ReadAll(saved) != bytes)
        Fail("saving the same list twice gave different bytes");
    return 0;
}
