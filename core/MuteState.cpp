#include "MuteState.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

constexpr const char* kMagic = "pulsewick-mute";
constexpr int kVersion = 1;
constexpr const char* kUntilResumedWord = "resumed";

// A path or a name as one field of a line: blanks, control bytes and '%' as %XX, so that any
// bytes read back unchanged.
std::string Escaped(const std::string& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f || c == '%') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

bool Unescaped(const std::string& field, std::string& bytes) {
    bytes.clear();
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            bytes += field[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= field.size() ||
            std::from_chars(field.data() + i + 1, field.data() + i + 3, value, 16).ptr != field.data() + i + 3)
            return false;
        bytes += static_cast<char>(value);
        i += 2;
    }
    return true;
}

std::string UntilText(std::int64_t until) {
    return until == MuteState::kUntilResumed ? kUntilResumedWord : std::to_string(until);
}

bool ReadUntil(const std::string& text, std::int64_t& until) {
    if (text == kUntilResumedWord) {
        until = MuteState::kUntilResumed;
        return true;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), until);
    return error == std::errc() && end == text.data() + text.size() && until > 0;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t blank = line.find(' ', start);
        fields.push_back(line.substr(start, blank - start));
        if (blank == std::string::npos)
            break;
        start = blank + 1;
    }
    return fields;
}

} // namespace

std::int64_t MuteState::HeldUntil(const std::string& entryName, std::int64_t now) const {
    std::int64_t until = listUntil > now ? listUntil : 0;
    if (const auto own = entries.find(entryName); own != entries.end() && own->second > now)
        until = std::max(until, own->second);
    return until;
}

std::int64_t MuteState::HoldUntil(const std::string& entryName, std::int64_t until) {
    std::int64_t& held = entryName.empty() ? listUntil : entries[entryName];
    held = std::max(held, until);
    return held;
}

void MuteState::Expire(std::int64_t now) {
    if (listUntil <= now)
        listUntil = 0;
    std::erase_if(entries, [now](const auto& entry) { return entry.second <= now; });
}

std::string FormatMuteState(const MuteState& state) {
    std::string text = "# Alerts held by pulsewick-cli mute or the window's \"Pause alerts\"; times in seconds since "
                       "1970.\n";
    text += std::string(kMagic) + " " + std::to_string(kVersion) + "\n";
    text += "for " + Escaped(state.listPath) + "\n";
    if (state.listUntil != 0)
        text += "list " + UntilText(state.listUntil) + "\n";
    for (const auto& [name, until] : state.entries)
        text += "entry " + UntilText(until) + " " + Escaped(name) + "\n";
    return text;
}

MuteState ParseMuteState(const std::string& text, std::string& problem) {
    MuteState state;
    problem.clear();
    bool headerSeen = false;
    int badLines = 0;
    int lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;
        const std::vector<std::string> fields = Fields(line);
        if (!headerSeen) {
            if (fields.size() != 2 || fields[0] != kMagic) {
                problem = "it is not a mute state of Pulsewick";
                return {};
            }
            if (fields[1] != std::to_string(kVersion)) {
                problem = "it was written by another version of Pulsewick (" + fields[1] + ")";
                return {};
            }
            headerSeen = true;
            continue;
        }
        std::int64_t until = 0;
        std::string bytes;
        bool read = false;
        if (fields.size() == 2 && fields[0] == "for") {
            read = Unescaped(fields[1], state.listPath);
        } else if (fields.size() == 2 && fields[0] == "list") {
            read = ReadUntil(fields[1], state.listUntil);
        } else if (fields.size() == 3 && fields[0] == "entry" && ReadUntil(fields[1], until) &&
                   Unescaped(fields[2], bytes) && !bytes.empty()) {
            state.entries[bytes] = until;
            read = true;
        }
        if (!read && badLines++ == 0)
            problem = "line " + std::to_string(lineNumber) + " cannot be read";
    }
    if (!headerSeen && problem.empty() && !text.empty())
        problem = "it is not a mute state of Pulsewick";
    if (badLines > 1)
        problem += " (and " + std::to_string(badLines - 1) + " more)";
    return state;
}
