#include "ArchiveError.h"

namespace {
// The end-of-file failure carries no path; its text always names this instead.
constexpr const char* kUnnamedFile = "an unnamed file";
constexpr const char* kPathPlaceholder = "%1";

const char* CauseFormat(ArchiveCause cause) {
    switch (cause) {
    case ArchiveCause::endOfFile:
        return "An attempt was made to access %1 past its end.";
    case ArchiveCause::badIndex:
        return "%1 has a bad format.";
    case ArchiveCause::badClass:
        return "%1 contained an unexpected object.";
    case ArchiveCause::badSchema:
        return "%1 contains an incorrect schema.";
    }
    return "%1 has a bad format.";
}
} // namespace

std::string ArchiveCauseText(ArchiveCause cause, const std::string& fullPath) {
    std::string text = CauseFormat(cause);
    const std::string name = cause == ArchiveCause::endOfFile ? std::string(kUnnamedFile) : fullPath;
    const auto at = text.find(kPathPlaceholder);
    if (at != std::string::npos)
        text.replace(at, 2, name);
    return text;
}
