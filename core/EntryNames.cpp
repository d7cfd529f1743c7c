#include "EntryNames.h"

#include "CItemList.h"

#include <charconv>

namespace entrynames {

namespace {

bool IsIcmpWord(const std::string& text) {
    if (text.size() != 4)
        return false;
    for (std::size_t i = 0; i < 4; ++i) {
        if ((text[i] | 0x20) != "icmp"[i])
            return false;
    }
    return true;
}

std::string Unbracketed(const std::string& address) {
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        return address.substr(1, address.size() - 2);
    return address;
}

template <typename Pred>
std::vector<std::size_t> Rows(const CItemList& list, Pred&& matches) {
    std::vector<std::size_t> rows;
    std::size_t row = 0;
    list.ForEach([&](const CItem& item) {
        if (matches(item))
            rows.push_back(row);
        ++row;
    });
    return rows;
}

} // namespace

std::string EntryName(const CItem& item) {
    return item.m_strAddress + ":" + (item.m_bConnect ? std::to_string(item.m_nPort) : std::string("ICMP"));
}

std::vector<std::size_t> Match(const CItemList& list, const std::string& name) {
    // The whole name as an address first: an IPv6 address holds colons of its own.
    const std::string whole = Unbracketed(name);
    std::vector<std::size_t> rows = Rows(list, [&](const CItem& item) { return item.m_strAddress == whole; });
    const std::size_t colon = name.rfind(':');
    if (!rows.empty() || colon == std::string::npos)
        return rows;
    const std::string address = Unbracketed(name.substr(0, colon));
    const std::string kind = name.substr(colon + 1);
    if (IsIcmpWord(kind))
        return Rows(list, [&](const CItem& item) { return !item.m_bConnect && item.m_strAddress == address; });
    std::int32_t port = -1;
    const auto [end, error] = std::from_chars(kind.data(), kind.data() + kind.size(), port);
    if (error != std::errc() || end != kind.data() + kind.size() || kind.empty())
        return rows;
    return Rows(list, [&](const CItem& item) {
        return item.m_bConnect && item.m_nPort == port && item.m_strAddress == address;
    });
}

} // namespace entrynames
