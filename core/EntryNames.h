#pragma once

#include <cstddef>
#include <string>
#include <vector>

class CItem;
class CItemList;

// How commands and settings name the entries of a list: ADDRESS names every entry with that
// address, ADDRESS:PORT its TCP entry on that port and ADDRESS:ICMP its echo entry ([ADDRESS]:PORT
// too, for an IPv6 address). Addresses are compared byte for byte as the list holds them.
namespace entrynames {

// One entry's own name: "address:port" or "address:ICMP".
std::string EntryName(const CItem& item);

// The rows that name matches, in list order; none when it matches no entry.
std::vector<std::size_t> Match(const CItemList& list, const std::string& name);

} // namespace entrynames
