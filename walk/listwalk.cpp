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
std::vector<QString> upcomingEntries(const ListWalk &walk, qsizetype from, qsizetype bound)
{
    std::vector<QString> upcoming;
    const qsizetype end = std::min({bound, walk.list.count(), from + AheadLimits::LookAhead});
    for (qsizetype i = std::max<qsizetype>(from, 0); i < end; ++i) {
        QString address = walk.list.text(i);
        if (!walk.passOver || !walk.passOver(address))
            upcoming.push_back(std::move(address));
    }
    return upcoming;
}

} // namespace

void walkList(const ListWalk &walk, const EntryWork &work, const EntryWorkAfterYield &afterYield)
{
    const qsizetype fixedBound = walk.list.count();
    const auto boundNow = [&] { return walk.growing ? walk.list.count() : fixedBound; };
    for (qsizetype i = 0; i < boundNow(); ++i) {
        const qsizetype bound = boundNow();
        if (walk.passOver && i < walk.list.count() && walk.passOver(walk.list.text(i)))
            continue;
        if (!walk.list.setCurrentIndex(i) || walk.stop.isRequested())
            return;
        walk.loads.topUp(upcomingEntries(walk, i, bound));
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
