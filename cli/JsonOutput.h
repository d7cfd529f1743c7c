#pragma once

#include <cstddef>
#include <string>

class CItemList;

namespace cli {

// Length of the valid UTF-8 sequence of two to four bytes starting at bytes[i], or 0 when there
// is none (an ASCII byte, a stray byte, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t Utf8SequenceLength(const std::string& bytes, std::size_t i);

// A JSON string literal for bytes: valid UTF-8 is kept, control characters are escaped, and a
// byte that is not part of valid UTF-8 is written as \u00XX so no byte is silently lost.
std::string JsonQuote(const std::string& bytes);

// {"settings": {...}, "entries": [{...}, ...]}, numbers as numbers, text as strings.
std::string ListToJson(const CItemList& list);

} // namespace cli
