#include "CItemList.h"

#include "CObjectArchive.h"

#include <algorithm>
#include <stdexcept>

CItem& CItemList::AddTail(std::unique_ptr<CItem> item) {
    if (!item)
        throw std::invalid_argument("CItemList::AddTail: null entry");
    m_items.push_back(std::move(item));
    return *m_items.back();
}

std::optional<std::size_t> CItemList::Find(const CItem* item) const {
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i].get() == item)
            return i;
    }
    return std::nullopt;
}

void CItemList::RemoveAt(std::size_t position) {
    if (position >= m_items.size())
        throw std::out_of_range("CItemList::RemoveAt: no entry at that position");
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(position));
}

const CRuntimeClass CItemList::classCItemList{
    "CItemList", 0, []() -> std::unique_ptr<CSerializable> { return std::make_unique<CItemList>(); }};

namespace {
// Written between the pager settings and the port in the current layout; files of the
// older layout have the port in its place and no e-mail settings at all.
constexpr std::int32_t kCurrentLayoutMarker = -2;
} // namespace

void CItemList::Serialize(CObjectArchive& ar) {
    ar.Exchange(m_bPopup);
    ar.Exchange(m_strSoundFile);
    ar.Exchange(m_strExecute);
    ar.Exchange(m_bPager);
    ar.Exchange(m_nPeriod);
    ar.Exchange(m_bStartAuto);
    ar.Exchange(m_nLogMode);
    ar.Exchange(m_strLogFile);
    ar.Exchange(m_strModemInit);
    ar.Exchange(m_strMessageCode);
    ar.Exchange(m_strPagerNumber);
    ar.Exchange(m_nPause);

    if (ar.IsStoring()) {
        ar.WriteInt32(kCurrentLayoutMarker);
        ar.WriteInt32(m_nComPort);
        ar.WriteInt32(m_bMail);
        ar.WriteString(m_strFrom);
        ar.WriteString(m_strServer);
        ar.WriteString(m_strTo);
        ar.WriteString(m_strSubject);
        ar.WriteCount(m_items.size());
        for (const auto& item : m_items)
            ar.WriteObject(*item);
        return;
    }

    const std::int32_t marker = ar.ReadInt32();
    if (marker == kCurrentLayoutMarker) {
        m_nComPort = ar.ReadInt32();
        m_bMail = ar.ReadInt32();
        m_strFrom = ar.ReadString();
        m_strServer = ar.ReadString();
        m_strTo = ar.ReadString();
        m_strSubject = ar.ReadString();
    } else {
        // The older layout has no e-mail settings: they take a new list's values.
        const CItemList fresh;
        m_nComPort = marker;
        m_bMail = fresh.m_bMail;
        m_strFrom = fresh.m_strFrom;
        m_strServer = fresh.m_strServer;
        m_strTo = fresh.m_strTo;
        m_strSubject = fresh.m_strSubject;
    }

    const std::uint64_t count = ar.ReadCount();
    // Every entry takes at least a 2-byte tag and 13 bytes of fields, so room is made only for
    // as many entries as the rest of the file can hold: a damaged count costs no memory, and
    // the file's end still fails with the cause of wherever it cuts the entries.
    constexpr std::uint64_t kSmallestEntry = 2 + 4 + 4 + 1 + 4;
    m_items.reserve(static_cast<std::size_t>(std::min(count, ar.BytesLeft() / kSmallestEntry)));
    for (std::uint64_t i = 0; i < count; ++i) {
        // The entry list holds nothing but new entries; a reference, a second list or
        // anything else is a corrupt file.
        std::unique_ptr<CSerializable> object = ar.ReadObject(&CItem::classCItem);
        if (!object)
            throw CArchiveException(ArchiveCause::badIndex);
        m_items.emplace_back(static_cast<CItem*>(object.release()));
    }
}
