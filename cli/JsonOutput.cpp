#include "JsonOutput.h"

#include "CItemList.h"
#include "SettingKeys.h"

#include <array>

namespace cli {

std::size_t Utf8SequenceLength(const std::string& bytes, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F; // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    if (at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    }
    return length;
}

namespace {
// How each ASCII byte is written: 0 as it is, 'u' as \u00XX, otherwise a backslash and that letter.
constexpr std::array<char, 128> kAsciiEscapes = [] {
    std::array<char, 128> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = 'u';
    table[0x7F] = 'u';
    table['"'] = '"';
    table['\\'] = '\\';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    return table;
}();

void AppendEscaped(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    const char escape[6] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
    out.append(escape, sizeof escape);
}
} // namespace

// A JSON string must be UTF-8, and a list's byte strings need not be: QJsonDocument would turn
// every stray byte into U+FFFD and lose it, so the bytes are written here, copying runs that
// need no escape in one piece.
std::string JsonQuote(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8 + 2);
    out += '"';
    const std::size_t size = bytes.size();
    std::size_t runStart = 0;
    std::size_t i = 0;
    const auto flush = [&] { out.append(bytes, runStart, i - runStart); };
    while (i < size) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            const char escape = kAsciiEscapes[c];
            if (escape == 0) {
                ++i;
                continue;
            }
            flush();
            if (escape == 'u') {
                AppendEscaped(out, c);
            } else {
                out += '\\';
                out += escape;
            }
            runStart = ++i;
        } else if (const std::size_t length = Utf8SequenceLength(bytes, i)) {
            i += length; // valid UTF-8 stays in the run
        } else {
            flush();
            AppendEscaped(out, c);
            runStart = ++i;
        }
    }
    flush();
    out += '"';
    return out;
}

std::string ListToJson(const CItemList& list) {
    std::string out = "{\n  \"settings\": {";
    const char* separator = "\n";
    for (const SettingKey& key : SettingKeys()) {
        out += separator;
        out += "    \"";
        out += key.name;
        out += "\": ";
        out += key.intMember ? std::to_string(list.*key.intMember) : JsonQuote(list.*key.textMember);
        separator = ",\n";
    }
    out += "\n  },\n  \"entries\": [";
    separator = "\n";
    list.ForEach([&](const CItem& item) {
        out += separator;
        out += "    {\"result\": " + std::to_string(item.m_bResult) +
               ", \"connect\": " + std::to_string(item.m_bConnect) + ", \"address\": " + JsonQuote(item.m_strAddress) +
               ", \"port\": " + std::to_string(item.m_nPort) + "}";
        separator = ",\n";
    });
    out += list.IsEmpty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

} // namespace cli
