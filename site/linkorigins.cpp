#include "linkorigins.h"

namespace skarnel {

void LinkOrigins::note(const QString &address, const QString &page)
{
    if (visit == 0 || page != visitedPage) {
        ++visit;
        visitedPage = page;
        firstVisit = ++visitsOfPage[page] == 1;
    }

    Origins &found = origins[address];
    if (found.lastVisit == visit)
        return;
    found.lastVisit = visit;
    if (found.pages.size() < KeptPages) {
        if (found.pages.contains(page))
            return;
        found.pages.append(page);
        ++found.count;
    } else if (firstVisit) {
        ++found.count;
    }
}

const LinkOrigins::Origins *LinkOrigins::find(const QString &address) const
{
    const auto found = origins.constFind(address);
    return found == origins.cend() ? nullptr : &*found;
}

void LinkOrigins::clear()
{
    origins.clear();
    visitsOfPage.clear();
    visitedPage.clear();
    visit = 0;
    firstVisit = true;
}

} // namespace skarnel
