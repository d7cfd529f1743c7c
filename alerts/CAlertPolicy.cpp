#include "CAlertPolicy.h"

#include <algorithm>
#include <utility>

CAlertPolicy::CAlertPolicy(Settings settings) : m_settings(settings) {}

bool CAlertPolicy::IsDue(std::int32_t failedPasses) const {
    const std::int32_t after = std::max<std::int32_t>(1, m_settings.alertAfter);
    if (failedPasses == after)
        return true;
    return failedPasses > after && m_settings.realertEvery > 0 && (failedPasses - after) % m_settings.realertEvery == 0;
}

CAlertPolicy::Decision CAlertPolicy::PassEnded(const std::vector<EntryResult>& results, bool cutOff) {
    if (cutOff) {
        // Nothing of such a pass counts: the counts and outages stay as they were.
        return std::exchange(m_bCutOff, true) ? Decision::none : Decision::cutOff;
    }
    m_bCutOff = false;
    // An entry listed twice fails the pass when either copy fails, and answers when a copy
    // answered; it tells nothing only when neither copy was probed. It is held only when every
    // copy is.
    std::map<std::string, EntryResult> outcomes;
    for (const EntryResult& result : results) {
        const auto [known, added] = outcomes.emplace(result.name, result);
        if (added)
            continue;
        if (known->second.outcome != Outcome::failed && result.outcome != Outcome::notProbed)
            known->second.outcome = result.outcome;
        if (result.hold == Hold::none)
            known->second.hold = Hold::none;
    }
    const std::int32_t after = std::max<std::int32_t>(1, m_settings.alertAfter);
    const auto alerted = [this](const std::string& name) {
        return std::find(m_alerted.begin(), m_alerted.end(), name) != m_alerted.end();
    };
    std::map<std::string, std::int32_t> counts;
    bool due = false;
    for (const auto& [name, result] : outcomes) {
        const auto previous = m_failedPasses.find(name);
        const std::int32_t before = previous == m_failedPasses.end() ? 0 : previous->second;
        if (result.outcome == Outcome::failed) {
            const std::int32_t count = before + 1;
            counts[name] = count;
            if (result.hold != Hold::none)
                m_heldWhileFailing.insert(name);
            else if (IsDue(count) || (m_heldWhileFailing.count(name) != 0 && count >= after && !alerted(name)))
                due = true;
        } else if (result.outcome == Outcome::notProbed && before > 0) {
            counts[name] = before;
        }
    }
    m_failedPasses = std::move(counts);
    // An entry that left the list (removed, or changed: another name) is forgotten: no probe of
    // it will ever answer, and its absence says nothing about the host.
    std::erase_if(m_alerted, [&outcomes](const std::string& name) { return outcomes.count(name) == 0; });
    std::erase_if(m_heldWhileFailing, [this](const std::string& name) { return m_failedPasses.count(name) == 0; });

    const auto stillFailing = [this](const std::string& name) { return m_failedPasses.count(name) != 0; };
    if (due) {
        for (const auto& [name, count] : m_failedPasses) {
            if (count >= after && outcomes[name].hold == Hold::none && !alerted(name))
                m_alerted.push_back(name);
        }
        return Decision::alert;
    }
    if (m_alerted.empty() || std::any_of(m_alerted.begin(), m_alerted.end(), stillFailing))
        return Decision::none;
    m_recovered.clear();
    if (m_settings.notifyRecovery) {
        m_recovered.swap(m_alerted);
        // Named in list order, as everywhere else.
        std::map<std::string, std::size_t> position;
        for (std::size_t i = results.size(); i-- > 0;)
            position[results[i].name] = i;
        const auto at = [&position, &results](const std::string& name) {
            const auto it = position.find(name);
            return it == position.end() ? results.size() : it->second;
        };
        std::stable_sort(m_recovered.begin(), m_recovered.end(),
                         [&at](const std::string& a, const std::string& b) { return at(a) < at(b); });
    }
    m_alerted.clear();
    return m_settings.notifyRecovery ? Decision::recovered : Decision::none;
}

std::int32_t CAlertPolicy::OutagePasses() const {
    std::int32_t longest = 0;
    for (const auto& [name, count] : m_failedPasses)
        longest = std::max(longest, count);
    return longest;
}
