#include "ProbeResults.h"
#include "CItemList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An entry written "host:port=result" (TCP) or "host=result" (ICMP).
std::unique_ptr<CItem> Entry(const std::string& text) {
    auto item = std::make_unique<CItem>();
    const std::size_t equals = text.find('=');
    const std::string target = text.substr(0, equals);
    const std::size_t colon = target.find(':');
    item->m_strAddress = target.substr(0, colon);
    item->m_bConnect = colon != std::string::npos;
    if (item->m_bConnect)
        item->m_nPort = std::stoi(target.substr(colon + 1));
    item->m_bResult = std::stoi(text.substr(equals + 1));
    return item;
}

std::unique_ptr<CItemList> List(const std::vector<std::string>& entries) {
    auto list = std::make_unique<CItemList>();
    for (const std::string& entry : entries)
        list->AddTail(Entry(entry));
    return list;
}

std::vector<int> Results(const CItemList& list) {
    std::vector<int> results;
    for (std::size_t row = 0; row < list.GetCount(); ++row)
        results.push_back(list.GetAt(row).m_bResult);
    return results;
}

} // namespace

// A pass's results go only to the entries that still probe what was probed; never to another host.
TEST(RecordProbeResults, GoOnlyToTheEntriesThatWereProbed) {
    struct Case {
        const char* what;
        std::vector<std::string> probed; // with the results of the pass
        std::vector<bool> wasProbed;
        std::vector<std::string> now; // with the results on disk
        std::vector<int> results;
        std::size_t changed;
    };
    const Case cases[] = {
        {"unchanged list", {"a:1=1", "b=0"}, {true, true}, {"a:1=0", "b=1"}, {1, 0}, 2},
        {"not reached by an interrupted pass", {"a:1=1", "b=1"}, {true, false}, {"a:1=0", "b=0"}, {1, 0}, 1},
        {"an entry added", {"a:1=1"}, {true}, {"a:1=0", "c=0"}, {1, 0}, 1},
        {"moved up by a removal", {"x=0", "a:1=1", "b=1"}, {true, true, true}, {"a:1=0", "b=0"}, {1, 1}, 2},
        {"edited: another port, another host", {"a:1=1", "b=1"}, {true, true}, {"a:2=0", "c=0"}, {0, 0}, 0},
        {"the kind changed", {"a:80=1"}, {true}, {"a=0"}, {0}, 0},
        {"twins do not move", {"a=1", "a=1"}, {true, true}, {"c=0", "a=0", "a=0"}, {0, 1, 0}, 1},
        {"removed", {"a=1", "b=1"}, {true, true}, {"a=0"}, {1}, 1},
    };
    for (const Case& c : cases) {
        const auto probed = List(c.probed);
        const auto now = List(c.now);
        EXPECT_EQ(RecordProbeResults(*probed, c.wasProbed, *now), c.changed) << c.what;
        EXPECT_EQ(Results(*now), c.results) << c.what;
    }
}
