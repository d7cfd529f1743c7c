#include "PassRecord.h"

#include "CItemList.h"
#include "PassHolds.h"
#include "SmtpAlert.h"

void PassRecord::Start(std::size_t entries) {
    m_rows.assign(entries, CAlertPolicy::Outcome::notProbed);
}

void PassRecord::Probed(std::size_t row, int result) {
    if (row < m_rows.size())
        m_rows[row] = result != 0 ? CAlertPolicy::Outcome::answered : CAlertPolicy::Outcome::failed;
}

std::vector<CAlertPolicy::EntryResult> PassRecord::Results(const CItemList& list, const PassHolds* holds) const {
    std::vector<CAlertPolicy::EntryResult> results;
    results.reserve(list.GetCount());
    list.ForEach([this, &results, holds](const CItem& item) {
        const std::size_t row = results.size();
        results.push_back({MailEntryName(item), row < m_rows.size() ? m_rows[row] : CAlertPolicy::Outcome::notProbed,
                           holds ? holds->HoldOf(row) : CAlertPolicy::Hold::none});
    });
    return results;
}
