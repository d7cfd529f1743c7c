#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cli {

// The metrics text as the endpoint's connections send it: one shared, immutable copy per distinct
// text, held by each connection that sends it and freed with the last of them, so a connection
// that never reads costs a reference rather than a copy. Older texts that slow connections still
// hold are bounded together: past the budget, the holders of the oldest are to be cut off.
class MetricsBodies {
public:
    using Body = std::shared_ptr<const std::string>;

    // Older texts may hold this much together, or twice the newest when that is more.
    static constexpr std::size_t kMinHeldBytes = 8 * 1024 * 1024;

    explicit MetricsBodies(std::function<std::string()> text);

    // The text as it is now; the last one given when it has not changed.
    Body Current();
    // Older texts still held beyond the budget, oldest first: their holders are to be cut off.
    std::vector<const std::string*> OverBudget();

private:
    std::function<std::string()> m_text;
    // Not kept alive here: between scrapes nobody holds a text.
    std::weak_ptr<const std::string> m_current;
    std::deque<std::weak_ptr<const std::string>> m_older; // oldest first
    std::deque<std::size_t> m_olderSizes;
};

} // namespace cli
