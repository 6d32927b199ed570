#pragma once

#include <QString>

#include <functional>

namespace skarnel {

class LinkList;
class LoadingAhead;
class StopFlag;

// One walk over a link list, the walk that the crawl, the check and the search share.
struct ListWalk
{
    LinkList &list;
    const StopFlag &stop;
    LoadingAhead &loads; // topped up at each entry with the entries that come next
    // Whether the walk yields to the event loop before the work on each entry and after it (the
    // crawl and the check), or leaves the window its turns to the work's own waits (the search).
    bool yieldAroundWork = true;
    // Told the index of each entry made current and the walk's bound, before the yield.
    std::function<void(qsizetype index, qsizetype bound)> progress = {};
    // Entries the walk passes over: not made current, not loaded ahead, not worked on.
    std::function<bool(const QString &address)> passOver = {};
    // The bound follows the list: entries added meanwhile are visited too.
    bool growing = false;
};

// The work on one entry, given the entry's address. It returns whether the walk goes on to the
// yield after it and then to the rest of the entry's work; false goes to the next entry at once.
using EntryWork = std::function<bool(const QString &address)>;
// The rest of the work on one entry, after the yield that follows the work; given the same address.
using EntryWorkAfterYield = std::function<void(const QString &address)>;

// Walks `walk.list` from its first entry up to the bound fixed here, the number of entries it has
// now: entries added meanwhile are not visited, unless the walk is `growing`. At each entry in turn
// it
// - makes the entry current, and ends when there is none there any more (New emptied the list)
//   or when a stop is requested;
// - tops up the loads ahead, tells the progress and yields;
// - reads the current entry's address, which is not always the entry made current: the user may
//   have selected another one meanwhile; and hands it to `work`;
// - yields again, and hands the address to `afterYield`, when the work asks for it.
// Without `yieldAroundWork` it neither yields nor runs `afterYield`.
void walkList(const ListWalk &walk, const EntryWork &work,
              const EntryWorkAfterYield &afterYield = {});

} // namespace skarnel
