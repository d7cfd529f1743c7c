// The JSON string writer of pulsewick-cli: megabytes of list text escaped per second, for plain
// ASCII, UTF-8 text and bytes that are not UTF-8. Reports, asserts nothing.
#include "JsonOutput.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

void Measure(const char* name, const std::string& sample) {
    std::string input;
    while (input.size() < 8u * 1024 * 1024)
        input += sample;
    const auto start = std::chrono::steady_clock::now();
    std::size_t out = 0;
    constexpr int kRounds = 5;
    for (int i = 0; i < kRounds; ++i)
        out += cli::JsonQuote(input).size();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-12s %8.1f MB/s (%zu bytes out)\n", name, kRounds * static_cast<double>(input.size()) / 1e6 / seconds,
                out);
}

} // namespace

int main() {
    Measure("ASCII", "router-17.branch.example.org \"core\" \\ 10.0.0.1\t");
    Measure("UTF-8", "Z\xc3\xbcrich-B\xc3\xbcro \xe6\x9d\xb1\xe4\xba\xac \xf0\x9f\x93\xa1 ");
    Measure("not UTF-8", "Z\xfcrich-B\xfcro \x81\xff\xc3(\x01\x7f ");
    return 0;
}
