#pragma once

#include <memory>

class CItemList;

// Copies of a list for the window: a snapshot of what was last saved, and a private copy for
// work that runs beside the window (the e-mail alert), so neither shares entries with the list
// the user keeps editing.

// A full copy: every setting and every entry, with the last probe's results.
std::unique_ptr<CItemList> CopyList(const CItemList& list);

// True when both lists hold the same settings and the same entries in the same order; the
// results of probes do not count, since a check run is not an edit.
bool SameContent(const CItemList& a, const CItemList& b);
