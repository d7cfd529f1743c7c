#include "MetricsSnapshots.h"

#include <algorithm>

namespace cli {

MetricsSnapshots::MetricsSnapshots(std::function<Snapshot()> now) : m_now(std::move(now)) {}

MetricsSnapshots::Snapshot MetricsSnapshots::Current() {
    Snapshot now = m_now();
    const Snapshot last = m_current.lock();
    // The figures are copied when they change while held, so another address is other figures.
    if (last && last != now) {
        m_older.push_back(last);
        m_olderSizes.push_back(last->Bytes());
    }
    m_current = now;
    return now;
}

std::vector<const MonitorMetrics::Figures*> MetricsSnapshots::OverBudget() {
    // Those nobody holds any more are gone already.
    for (std::size_t i = m_older.size(); i-- > 0;) {
        if (m_older[i].expired()) {
            m_older.erase(m_older.begin() + static_cast<std::ptrdiff_t>(i));
            m_olderSizes.erase(m_olderSizes.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    const Snapshot current = m_current.lock();
    const std::size_t budget = std::max(kMinHeldBytes, 2 * (current ? current->Bytes() : 0));
    std::size_t held = 0;
    for (const std::size_t size : m_olderSizes)
        held += size;
    std::vector<const MonitorMetrics::Figures*> over;
    for (std::size_t i = 0; i < m_older.size() && held > budget; ++i) {
        if (const auto snapshot = m_older[i].lock()) {
            over.push_back(snapshot.get());
            held -= m_olderSizes[i];
        }
    }
    return over;
}

} // namespace cli
