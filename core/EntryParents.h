#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CItemList;

// Entries behind another entry of the same list (their router or gateway), declared as
// "PARENT=CHILD[,CHILD...]" with the entries named as in EntryNames.h. In a pass where a parent
// failed, a child that failed too is unreachable: its failure says nothing of its own.
class EntryParents {
public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // Adds one declaration; the error text when it is not PARENT=CHILD[,CHILD...].
    std::optional<std::string> Add(const std::string& declaration);
    bool IsEmpty() const { return m_declarations.empty(); }

    // For each row of list, the row of the entry it is behind, or kNone. Refuses, with the error
    // text, a name that matches no entry, a parent that matches several, an entry given two
    // parents, and a cycle.
    std::optional<std::string> Resolve(const CItemList& list, std::vector<std::size_t>& parentOf) const;

private:
    struct Declaration {
        std::string parent;
        std::vector<std::string> children;
    };
    std::vector<Declaration> m_declarations;
};

// What one pass says of the entries behind parents.
struct Reachability {
    // Per row: the parent it failed behind while that parent failed too, or EntryParents::kNone.
    std::vector<std::size_t> downParent;
    // Per row that failed on its own: how many entries failed behind it, through every level.
    std::vector<std::int32_t> behind;

    bool Unreachable(std::size_t row) const { return row < downParent.size() && downParent[row] != EntryParents::kNone; }
    std::int32_t Behind(std::size_t row) const { return row < behind.size() ? behind[row] : 0; }
};

// failed: per row, whether its probe failed in the pass; parentOf as Resolve gives it.
Reachability JudgeReachability(const std::vector<std::size_t>& parentOf, const std::vector<bool>& failed);

// "unreachable: PARENT is down", the reason shown for an unreachable entry.
std::string UnreachableText(const std::string& parentName);
// "and 12 entries behind it", told with the alert of an entry that has failed entries behind it.
std::string BehindText(std::int32_t count);
