#include "MetricsBodies.h"

#include <algorithm>

namespace cli {

MetricsBodies::MetricsBodies(std::function<std::string()> text) : m_text(std::move(text)) {}

MetricsBodies::Body MetricsBodies::Current() {
    std::string text = m_text();
    Body current = m_current.lock();
    if (current && *current == text)
        return current;
    if (current) {
        m_older.push_back(current);
        m_olderSizes.push_back(current->size());
    }
    current = std::make_shared<const std::string>(std::move(text));
    m_current = current;
    return current;
}

std::vector<const std::string*> MetricsBodies::OverBudget() {
    // Those nobody holds any more are gone already.
    for (std::size_t i = m_older.size(); i-- > 0;) {
        if (m_older[i].expired()) {
            m_older.erase(m_older.begin() + static_cast<std::ptrdiff_t>(i));
            m_olderSizes.erase(m_olderSizes.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    const Body current = m_current.lock();
    const std::size_t budget = std::max(kMinHeldBytes, 2 * (current ? current->size() : 0));
    std::size_t held = 0;
    for (const std::size_t size : m_olderSizes)
        held += size;
    std::vector<const std::string*> over;
    for (std::size_t i = 0; i < m_older.size() && held > budget; ++i) {
        if (const auto body = m_older[i].lock()) {
            over.push_back(body.get());
            held -= m_olderSizes[i];
        }
    }
    return over;
}

} // namespace cli
