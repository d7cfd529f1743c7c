#include "EntryParents.h"

#include "CItemList.h"
#include "EntryNames.h"

namespace {

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Quoted(const std::string& name) {
    return "'" + name + "'";
}

// The entries of a cycle through row, as "A is behind B, which is behind A".
std::string CycleText(const CItemList& list, const std::vector<std::size_t>& parentOf, std::size_t row) {
    std::string text = entrynames::EntryName(list.GetAt(row)) + " is behind ";
    for (std::size_t at = parentOf[row];; at = parentOf[at]) {
        text += entrynames::EntryName(list.GetAt(at));
        if (at == row)
            return "a cycle: " + text;
        text += ", which is behind ";
    }
}

} // namespace

std::optional<std::string> EntryParents::Add(const std::string& declaration) {
    const std::size_t equals = declaration.find('=');
    Declaration parsed;
    if (equals != std::string::npos) {
        parsed.parent = Trimmed(declaration.substr(0, equals));
        std::size_t start = equals + 1;
        for (;;) {
            const std::size_t comma = declaration.find(',', start);
            parsed.children.push_back(Trimmed(declaration.substr(start, comma - start)));
            if (parsed.children.back().empty() || comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    if (parsed.parent.empty() || parsed.children.empty() || parsed.children.back().empty())
        return "not PARENT=CHILD[,CHILD...]: " + Quoted(declaration);
    m_declarations.push_back(std::move(parsed));
    return std::nullopt;
}

std::optional<std::string> EntryParents::Resolve(const CItemList& list, std::vector<std::size_t>& parentOf) const {
    parentOf.assign(list.GetCount(), kNone);
    for (const Declaration& declaration : m_declarations) {
        const std::vector<std::size_t> parents = entrynames::Match(list, declaration.parent);
        if (parents.empty())
            return "no entry " + Quoted(declaration.parent) + " in the list";
        if (parents.size() > 1)
            return Quoted(declaration.parent) + " names " + std::to_string(parents.size()) +
                   " entries; name the parent as ADDRESS:PORT or ADDRESS:ICMP";
        for (const std::string& child : declaration.children) {
            const std::vector<std::size_t> rows = entrynames::Match(list, child);
            if (rows.empty())
                return "no entry " + Quoted(child) + " in the list";
            for (const std::size_t row : rows) {
                if (parentOf[row] != kNone && parentOf[row] != parents.front())
                    return entrynames::EntryName(list.GetAt(row)) + " is behind both " +
                           entrynames::EntryName(list.GetAt(parentOf[row])) + " and " +
                           entrynames::EntryName(list.GetAt(parents.front()));
                parentOf[row] = parents.front();
            }
        }
    }
    // Each entry has one parent at most, so a walk up from any row either ends or comes round.
    enum : char { unseen, onPath, done };
    std::vector<char> state(parentOf.size(), unseen);
    for (std::size_t start = 0; start < parentOf.size(); ++start) {
        std::size_t at = start;
        while (at != kNone && state[at] == unseen) {
            state[at] = onPath;
            at = parentOf[at];
        }
        if (at != kNone && state[at] == onPath)
            return CycleText(list, parentOf, at);
        for (at = start; at != kNone && state[at] == onPath; at = parentOf[at])
            state[at] = done;
    }
    return std::nullopt;
}

Reachability JudgeReachability(const std::vector<std::size_t>& parentOf, const std::vector<bool>& failed) {
    const std::size_t rows = failed.size();
    Reachability reach;
    reach.downParent.assign(rows, EntryParents::kNone);
    reach.behind.assign(rows, 0);
    for (std::size_t row = 0; row < rows && row < parentOf.size(); ++row) {
        const std::size_t parent = parentOf[row];
        if (failed[row] && parent < rows && failed[parent])
            reach.downParent[row] = parent;
    }
    // Each unreachable entry counts for the first entry up its chain that failed on its own; the
    // roots found are remembered along the way, so long chains are walked once.
    std::vector<std::size_t> root(rows, EntryParents::kNone);
    std::vector<std::size_t> path;
    for (std::size_t row = 0; row < rows; ++row) {
        if (!reach.Unreachable(row))
            continue;
        path.clear();
        std::size_t at = row;
        while (reach.Unreachable(at) && root[at] == EntryParents::kNone) {
            path.push_back(at);
            at = reach.downParent[at];
        }
        const std::size_t top = reach.Unreachable(at) ? root[at] : at;
        for (const std::size_t step : path)
            root[step] = top;
        ++reach.behind[top];
    }
    return reach;
}

std::string UnreachableText(const std::string& parentName) {
    return "unreachable: " + parentName + " is down";
}

std::string BehindText(std::int32_t count) {
    return "and " + std::to_string(count) + (count == 1 ? " entry" : " entries") + " behind it";
}
