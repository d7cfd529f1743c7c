#pragma once

#include "MonitorMetrics.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <vector>

namespace cli {

// The snapshots of the figures that the endpoint's responses render: one per response, shared by
// the responses that come while the figures stay the same, freed with the last of them. Older
// snapshots that slow connections still hold are bounded together: past the budget, the holders
// of the oldest are to be cut off.
class MetricsSnapshots {
public:
    using Snapshot = MonitorMetrics::Snapshot;

    // Older snapshots may hold this much together, or twice the newest when that is more.
    static constexpr std::size_t kMinHeldBytes = 4 * 1024 * 1024;

    explicit MetricsSnapshots(std::function<Snapshot()> now);

    // The figures as they are now.
    Snapshot Current();
    // Older snapshots still held beyond the budget, oldest first: their holders are to be cut off.
    std::vector<const MonitorMetrics::Figures*> OverBudget();

private:
    std::function<Snapshot()> m_now;
    // Not kept alive here: a snapshot nobody holds is changed in place.
    std::weak_ptr<const MonitorMetrics::Figures> m_current;
    std::deque<std::weak_ptr<const MonitorMetrics::Figures>> m_older; // oldest first
    std::deque<std::size_t> m_olderSizes;
};

} // namespace cli
