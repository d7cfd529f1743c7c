#include "CliSupport.h"

#include "CItemList.h"
#include "ListFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>

namespace cli {

namespace {
constexpr const char* kProgramPrefix = "pulsewick-cli: ";

// The window's text of a file error, which gives the code alone, with its cause in words as
// command-line tools give it: "Loading l.pwk failed (returned a 0x2): No such file or directory."
std::string WithCause(std::string text, int error) {
    if (text.ends_with('.'))
        text.pop_back();
    return text + ": " + std::generic_category().message(error) + ".";
}
} // namespace

void PrintError(const std::string& text) {
    const std::string line = kProgramPrefix + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::optional<std::string> ListAndSwitches(const Args& args, std::initializer_list<Switch> switches,
                                           const std::vector<ValueOption>& values) {
    const auto arguments = ArgumentsAndSwitches(args, switches, values);
    if (!arguments || arguments->size() != 1)
        return std::nullopt;
    return arguments->front();
}

std::optional<std::vector<std::string>> ArgumentsAndSwitches(const Args& args, std::initializer_list<Switch> switches,
                                                             const std::vector<ValueOption>& values) {
    std::vector<std::string> arguments;
    for (auto at = args.begin(); at != args.end(); ++at) {
        const std::string& arg = *at;
        if (arg.size() > 1 && arg.front() == '-') {
            // Switches are long options only: "--json", never "-json", "-j" nor "--json=x".
            const auto valued = std::find_if(values.begin(), values.end(),
                                             [&arg](const ValueOption& candidate) { return arg == candidate.name; });
            if (valued != values.end()) {
                if (*valued->value || ++at == args.end())
                    return std::nullopt;
                *valued->value = *at;
                continue;
            }
            const auto known = std::find_if(switches.begin(), switches.end(),
                                            [&arg](const Switch& candidate) { return arg == candidate.name; });
            if (known == switches.end())
                return std::nullopt;
            *known->present = true;
        } else {
            arguments.push_back(arg);
        }
    }
    return arguments;
}

std::optional<std::vector<std::string>> TakeRepeated(Args& args, const char* name) {
    std::vector<std::string> values;
    for (auto at = args.begin(); at != args.end();) {
        if (*at != name) {
            ++at;
            continue;
        }
        if (at + 1 == args.end())
            return std::nullopt;
        values.push_back(*(at + 1));
        at = args.erase(at, at + 2);
    }
    return values;
}

int UsageError(const char* synopsis) {
    PrintError(std::string("usage: pulsewick-cli ") + synopsis);
    return kExitUsage;
}

// No flush: on a terminal stdio writes each line as it ends, into a pipe or a file it writes
// whole buffers (and the rest at exit), so a long list is not a write per row.
void PrintOut(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

int FinishOutput(int status) {
    const int error = std::fflush(stdout) == 0 ? 0 : errno;
    if (!std::ferror(stdout))
        return status;
    PrintError(std::string("cannot write to standard output") +
               (error ? ": " + std::string(std::strerror(error)) : ""));
    return kExitFileError;
}

std::unique_ptr<CItemList> LoadListOrReport(const std::string& path, int& exitCode, CListFileLock* editLock) {
    ListFileLoadResult result = LoadListFile(path, editLock);
    switch (result.status) {
    case ListFileStatus::ok:
        exitCode = kExitOk;
        return std::move(result.list);
    case ListFileStatus::noList:
        exitCode = kExitOk;
        return std::make_unique<CItemList>();
    case ListFileStatus::fileError:
        PrintError(WithCause(result.message, result.error));
        exitCode = kExitFileError;
        return nullptr;
    case ListFileStatus::archiveError:
        PrintError(result.message);
        PrintError(result.causeText);
        exitCode = kExitCorrupt;
        return nullptr;
    }
    exitCode = kExitCorrupt;
    return nullptr;
}

int SaveListOrReport(const CItemList& list, const std::string& path, const CListFileLock* editLock) {
    const ListFileSaveResult result = SaveListFile(list, path, editLock);
    if (result.Succeeded())
        return kExitOk;
    PrintError(result.status == ListFileStatus::fileError ? WithCause(result.message, result.error) : result.message);
    return kExitFileError;
}

std::size_t Columns(const std::string& text) {
    std::size_t characters = 0;
    for (const char c : text)
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80; // continuation bytes do not count
    return characters;
}

std::string Padded(const std::string& text, std::size_t width) {
    const std::size_t columns = Columns(text);
    return columns >= width ? text + " " : text + std::string(width - columns, ' ');
}

std::string PortColumnText(const CItem& item) {
    return item.m_bConnect ? std::to_string(item.m_nPort) : std::string("ICMP");
}

std::optional<std::int32_t> ParseInt32(const std::string& text) {
    std::string_view digits = text;
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
        if (digits.starts_with('-'))
            return std::nullopt;
    }
    std::int32_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::string NotAnIntegerText() {
    return "Please enter an integer.";
}

std::string OutOfRangeText(std::int32_t low, std::int32_t high) {
    return "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + ".";
}

} // namespace cli
