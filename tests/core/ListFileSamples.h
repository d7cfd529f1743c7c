#pragma once

#include "CItemList.h"

#include <memory>
#include <string>
#include <vector>

namespace samples {

using Bytes = std::vector<unsigned char>;

inline void Append(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}
inline void AppendInt32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A new list with two entries: 10.0.0.1 by ICMP echo that answered (port still 80), and
// 10.0.0.2 by TCP connect to port 25 that did not. Offsets 0..66 are shared by both layouts.
inline Bytes CommonHead() {
    Bytes b = {0xFF, 0xFF, 0x00, 0x00, 0x09, 0x00};
    Append(b, "CItemList");
    AppendInt32(b, 0);  // popup
    b.push_back(0);     // sound file
    b.push_back(0);     // execute
    AppendInt32(b, 0);  // pager
    AppendInt32(b, 15); // period
    AppendInt32(b, 0);  // start automatically
    AppendInt32(b, 0);  // log mode
    b.push_back(0);     // log file
    b.push_back(14);
    Append(b, "AT Q0 E0 M0 V0");
    b.push_back(1);
    Append(b, "1");
    b.push_back(7);
    Append(b, "5551234");
    AppendInt32(b, 5); // pause
    return b;
}

inline void AppendTwoEntries(Bytes& b) {
    b.insert(b.end(), {0x02, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00});
    Append(b, "CItem");
    AppendInt32(b, 1);
    AppendInt32(b, 0);
    b.push_back(8);
    Append(b, "10.0.0.1");
    AppendInt32(b, 80);
    b.insert(b.end(), {0x03, 0x80});
    AppendInt32(b, 0);
    AppendInt32(b, 1);
    b.push_back(8);
    Append(b, "10.0.0.2");
    AppendInt32(b, 25);
}

// The current layout: 149 bytes.
inline Bytes TwoEntryCurrent() {
    Bytes b = CommonHead();
    AppendInt32(b, 0xFFFFFFFE); // layout marker
    AppendInt32(b, 1);          // port index
    AppendInt32(b, 0);          // mail
    b.push_back(0);
    b.push_back(9);
    Append(b, "127.0.0.1");
    b.push_back(0);
    b.push_back(0);
    AppendTwoEntries(b);
    return b;
}

// The old layout: 128 bytes, the port index in place of the marker, no e-mail settings.
inline Bytes TwoEntryOld() {
    Bytes b = CommonHead();
    AppendInt32(b, 1);
    AppendTwoEntries(b);
    return b;
}

inline std::unique_ptr<CItemList> TwoEntryList() {
    auto list = std::make_unique<CItemList>();
    auto first = std::make_unique<CItem>();
    first->m_bResult = 1;
    first->m_bConnect = 0;
    first->m_strAddress = "10.0.0.1";
    list->AddTail(std::move(first));
    auto second = std::make_unique<CItem>();
    second->m_bResult = 0;
    second->m_bConnect = 1;
    second->m_strAddress = "10.0.0.2";
    second->m_nPort = 25;
    list->AddTail(std::move(second));
    return list;
}

} // namespace samples
