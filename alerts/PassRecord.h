#pragma once

#include "CAlertPolicy.h"

#include <chrono>
#include <cstddef>
#include <vector>

class CItemList;
struct PassHolds;

// What one check run said of each entry of the list it walked, gathered from the rows it
// reported (a run reports exactly the rows it probed), and when it ended: what the window and the
// monitor alike hand to the alert policy and the execute alert. A row the run did not report
// (cancelled, not reached, a run that could not start) was not probed, whatever result it still
// shows from an earlier pass.
class PassRecord {
public:
    // A run over a list of this many entries starts: none is probed yet.
    void Start(std::size_t entries);
    // The run reported row with result (nonzero: answered).
    void Probed(std::size_t row, int result);
    // The run has ended, now.
    void Ended() { m_endedAt = std::chrono::system_clock::now(); }

    std::chrono::system_clock::time_point EndedAt() const { return m_endedAt; }
    // Whether the run reported row as not answering.
    bool Failed(std::size_t row) const { return row < m_rows.size() && m_rows[row] == CAlertPolicy::Outcome::failed; }
    // One result per entry of list (the list the run walked), in list order, each with what holds
    // it in holds (none when null).
    std::vector<CAlertPolicy::EntryResult> Results(const CItemList& list, const PassHolds* holds = nullptr) const;

private:
    std::vector<CAlertPolicy::Outcome> m_rows;
    std::chrono::system_clock::time_point m_endedAt{};
};
