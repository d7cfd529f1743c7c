#pragma once

#include "CItem.h"
#include "CSerializable.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The document: the ordered entries plus every schedule, alert and log setting.
// The list owns its entries.
class CItemList : public CSerializable {
public:
    static const CRuntimeClass classCItemList;

    CItemList() = default;
    CItemList(const CItemList&) = delete;
    CItemList& operator=(const CItemList&) = delete;

    const CRuntimeClass& GetRuntimeClass() const override { return classCItemList; }
    void Serialize(CObjectArchive& ar) override;

    // The list part. Positions count from 0 in list order.
    CItem& AddTail(std::unique_ptr<CItem> item);
    std::optional<std::size_t> Find(const CItem* item) const; // first position of that very entry
    void RemoveAt(std::size_t position);
    void RemoveAll() { m_items.clear(); }
    std::size_t GetCount() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.empty(); }
    CItem& GetAt(std::size_t position) { return *m_items.at(position); }
    const CItem& GetAt(std::size_t position) const { return *m_items.at(position); }
    void Reserve(std::size_t count) { m_items.reserve(count); }

    // Walk from the first entry to the last.
    template <typename Fn>
    void ForEach(Fn&& fn) const {
        for (const auto& item : m_items)
            fn(*item);
    }
    template <typename Fn>
    void ForEach(Fn&& fn) {
        for (auto& item : m_items)
            fn(*item);
    }

    // Settings, in declaration order, with the values of a new list.
    std::string m_strLogFile;                      // empty: no check log
    std::int32_t m_nLogMode = 0;                   // 0 never, 1 on failure, 2 always
    std::int32_t m_bPopup = 0;
    std::string m_strSoundFile;                    // empty: no sound alert
    std::string m_strExecute;                      // empty: no command alert
    std::int32_t m_bPager = 0;
    std::int32_t m_nPeriod = 15;                   // minutes
    std::int32_t m_bStartAuto = 0;
    std::string m_strModemInit = "AT Q0 E0 M0 V0"; // empty: no initialisation string
    std::string m_strMessageCode = "1";
    std::string m_strPagerNumber = "5551234";
    std::int32_t m_nPause = 5;                     // dial pauses between number and message code
    std::int32_t m_nComPort = 1;                   // 0 = COM1: ... 8 = COM9:
    std::int32_t m_bMail = 0;
    std::string m_strSubject;
    std::string m_strTo;
    std::string m_strServer = "127.0.0.1";
    std::string m_strFrom;

private:
    std::vector<std::unique_ptr<CItem>> m_items;
};
