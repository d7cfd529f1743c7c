#pragma once

#include <stdexcept>
#include <string>

// Why an archive could not be read or written. The numbers are those of the
// messages in the program's string table (cause + 61872).
enum class ArchiveCause {
    endOfFile = 3,
    badIndex = 5,
    badClass = 6,
    badSchema = 7,
};

class CArchiveException : public std::runtime_error {
public:
    explicit CArchiveException(ArchiveCause cause)
        : std::runtime_error("archive error"), m_cause(cause) {}
    ArchiveCause m_cause;
};

// An operating-system failure while reading or writing the file; m_errno is the cause.
class CFileException : public std::runtime_error {
public:
    explicit CFileException(int err) : std::runtime_error("file error"), m_errno(err) {}
    int m_errno;
};

// The text that belongs to a cause, with %1 replaced by the file's full path
// ("an unnamed file" for the end-of-file cause, which carries no path).
std::string ArchiveCauseText(ArchiveCause cause, const std::string& fullPath);
