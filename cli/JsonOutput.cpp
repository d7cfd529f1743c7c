#include "JsonOutput.h"

#include "CItemList.h"
#include "SettingKeys.h"

#include <cstdio>

namespace cli {

namespace {
// Length of the valid UTF-8 sequence starting at bytes[i], or 0 when there is none.
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

void AppendEscaped(std::string& out, unsigned char byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", byte);
    out += escape;
}
} // namespace

std::string JsonQuote(const std::string& bytes) {
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F)
                    AppendEscaped(out, c);
                else
                    out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        if (const std::size_t length = Utf8SequenceLength(bytes, i)) {
            out.append(bytes, i, length);
            i += length;
        } else {
            AppendEscaped(out, c);
            ++i;
        }
    }
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
