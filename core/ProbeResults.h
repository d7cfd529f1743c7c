#pragma once

#include <cstddef>
#include <vector>

class CItemList;

// Writes the results of a pass over `probed` into `now`: the same list as its file holds it at
// the end of the pass, which other editors may have changed meanwhile. Only a result of an entry
// that was probed (wasProbed[row]) is written, and only to an entry that still probes the same
// thing (address, kind and port):
//  - the entry at the same row, when it is unchanged;
//  - otherwise the one entry of the list now with that address, kind and port, when the probed
//    list had exactly one such entry too: rows above it were added or removed, and it moved.
// An entry that was edited, or whose twins were added or removed, gets no result: a duplicate
// cannot tell which of its twins it was, and a result never goes to another host. Everything
// else of `now` stays as it is. Returns how many results of `now` changed.
std::size_t RecordProbeResults(const CItemList& probed, const std::vector<bool>& wasProbed, CItemList& now);
