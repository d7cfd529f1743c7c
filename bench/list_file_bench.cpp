// Saves and loads a list of 1,000,000 entries and prints the times and the peak memory
// compared with the list's own size in memory.
#include "CItemList.h"
#include "ListFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr std::size_t kDefaultEntries = 1'000'000;

// Resident and peak resident memory of this process in KiB, from /proc/self/status.
long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

// Starts a new peak-memory measurement (Linux: writing 5 resets VmHWM to the current size).
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
} // namespace

int main(int argc, char* argv[]) {
    const std::size_t entries = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : kDefaultEntries;
    char folder[] = "/tmp/pulsewick-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = std::string(folder) + "/big.pwk";

    // The load is measured in a child that starts before anything is allocated, so memory
    // the parent freed but kept does not hide the load's own peak.
    int ready[2];
    if (::pipe(ready) != 0) {
        std::perror("pipe");
        return 1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[1]);
        char go = 0;
        if (::read(ready[0], &go, 1) != 1 || go != 'g')
            ::_exit(1);
        ResetPeak();
        const long loadBase = StatusKiB("VmRSS");
        const auto start = std::chrono::steady_clock::now();
        const ListFileLoadResult loaded = LoadListFile(path);
        const double loadSeconds = Seconds(start);
        const long loadPeak = StatusKiB("VmHWM") - loadBase;
        if (!loaded.HasList()) {
            std::fprintf(stderr, "%s %s\n", loaded.message.c_str(), loaded.causeText.c_str());
            ::_exit(1);
        }
        long listKiB = 0;
        if (::read(ready[0], &listKiB, sizeof listKiB) != sizeof listKiB)
            ::_exit(1);
        std::printf("load:               %.3f s, %zu entries, peak %.1f MiB (%.2fx the list)\n", loadSeconds,
                    loaded.list->GetCount(), loadPeak / 1024.0, double(loadPeak) / listKiB);
        std::fflush(stdout);
        ::_exit(0);
    }
    ::close(ready[0]);

    const long before = StatusKiB("VmRSS");
    auto list = std::make_unique<CItemList>();
    list->Reserve(entries);
    for (std::size_t i = 0; i < entries; ++i) {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = static_cast<std::int32_t>(i % 2);
        item->m_nPort = static_cast<std::int32_t>(1 + i % 65535);
        item->m_strAddress =
            "10." + std::to_string(i >> 16 & 255) + "." + std::to_string(i >> 8 & 255) + "." + std::to_string(i & 255);
        list->AddTail(std::move(item));
    }
    const long listKiB = StatusKiB("VmRSS") - before;

    ResetPeak();
    const long saveBase = StatusKiB("VmRSS");
    auto start = std::chrono::steady_clock::now();
    const ListFileSaveResult saved = SaveListFile(*list, path);
    const double saveSeconds = Seconds(start);
    const long savePeak = StatusKiB("VmHWM") - saveBase + listKiB;
    if (!saved.Succeeded()) {
        std::fprintf(stderr, "%s\n", saved.message.c_str());
        return 1;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    const long fileBytes = std::ftell(file);
    std::fclose(file);

    std::printf("entries:            %zu\n", entries);
    std::printf("file size:          %.1f MiB\n", fileBytes / 1048576.0);
    std::printf("list in memory:     %.1f MiB\n", listKiB / 1024.0);
    std::printf("save:               %.3f s, peak %.1f MiB (%.2fx the list)\n", saveSeconds, savePeak / 1024.0,
                double(savePeak) / listKiB);
    std::fflush(stdout);

    const bool told = ::write(ready[1], "g", 1) == 1 && ::write(ready[1], &listKiB, sizeof listKiB) == sizeof listKiB;
    ::close(ready[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::remove(path.c_str());
    ::rmdir(folder);
    return told && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
