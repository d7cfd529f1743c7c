#include "ListCopy.h"

#include "CItemList.h"

#include <tuple>

namespace {

// Every setting of a list, named once for both the copy and the comparison.
template <typename List>
auto Settings(List& l) {
    return std::tie(l.m_strLogFile, l.m_nLogMode, l.m_bPopup, l.m_strSoundFile, l.m_strExecute, l.m_bPager, l.m_nPeriod,
                    l.m_bStartAuto, l.m_strModemInit, l.m_strMessageCode, l.m_strPagerNumber, l.m_nPause, l.m_nComPort,
                    l.m_bMail, l.m_strSubject, l.m_strTo, l.m_strServer, l.m_strFrom);
}

// What makes an entry the same entry for the comparison; probe results do not count.
template <typename Item>
auto Identity(Item& e) {
    return std::tie(e.m_strAddress, e.m_bConnect, e.m_nPort);
}

} // namespace

std::unique_ptr<CItemList> CopyList(const CItemList& list) {
    auto copy = std::make_unique<CItemList>();
    Settings(*copy) = Settings(list);
    copy->Reserve(list.GetCount());
    // An entry copies as a value; only the list, which owns its entries, needs this walk.
    list.ForEach([&copy](const CItem& entry) { copy->AddTail(std::make_unique<CItem>(entry)); });
    return copy;
}

bool SameContent(const CItemList& a, const CItemList& b) {
    if (Settings(a) != Settings(b) || a.GetCount() != b.GetCount())
        return false;
    for (std::size_t i = 0; i < a.GetCount(); ++i) {
        if (Identity(a.GetAt(i)) != Identity(b.GetAt(i)))
            return false;
    }
    return true;
}
