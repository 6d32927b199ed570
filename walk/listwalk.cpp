#include "listwalk.h"

#include "eventloop.h"
#include "loadsahead.h"
#include "stopflag.h"

#include <site/linklist.h>

#include <algorithm>
#include <vector>

namespace skarnel {

namespace {

// The entries from `from` up to `bound` (exclusive) that a walk will reach next, as many as are
// worth loading ahead.
std::vector<QString> upcomingEntries(const LinkList &list, qsizetype from, qsizetype bound)
{
    std::vector<QString> upcoming;
    const qsizetype end = std::min({bound, list.count(), from + AheadLimits::LookAhead});
    for (qsizetype i = std::max<qsizetype>(from, 0); i < end; ++i)
        upcoming.push_back(list.text(i));
    return upcoming;
}

} // namespace

void walkList(const ListWalk &walk, const EntryWork &work, const EntryWorkAfterYield &afterYield)
{
    const qsizetype bound = walk.list.count();
    for (qsizetype i = 0; i < bound; ++i) {
        if (!walk.list.setCurrentIndex(i) || walk.stop.isRequested())
            return;
        walk.loads.topUp(upcomingEntries(walk.list, i, bound));
        if (walk.progress)
            walk.progress(i, bound);
        if (walk.yieldAroundWork)
            yieldToEventLoop();

        const QString address = walk.list.currentText();
        if (!work(address) || !walk.yieldAroundWork)
            continue;
        yieldToEventLoop();
        if (afterYield)
            afterYield(address);
    }
}

} // namespace skarnel
