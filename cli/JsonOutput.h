#pragma once

#include <string>

class CItemList;

namespace cli {

// A JSON string literal for bytes: valid UTF-8 is kept, control characters are escaped, and a
// byte that is not part of valid UTF-8 is written as \u00XX so no byte is silently lost.
std::string JsonQuote(const std::string& bytes);

// {"settings": {...}, "entries": [{...}, ...]}, numbers as numbers, text as strings.
std::string ListToJson(const CItemList& list);

} // namespace cli
