#include "referrersearch.h"

#include <net/pageload.h>
#include <walk/commandcontext.h>
#include <walk/commandhost.h>
#include <walk/eventloop.h>
#include <walk/listwalk.h>
#include <walk/loadsahead.h>
#include <walk/stopflag.h>

#include <site/sitemodel.h>

namespace skarnel {

namespace {

// One page of the search: waits for the page's document (a stop request ends the wait and the
// links read so far are still compared) and appends the page's address for every match.
void scanPageForLink(const CommandContext &c, const std::unique_ptr<PageLoad> document,
                     const QString &pageAddress)
{
    if (!document)
        return;
    // Cleared here, after the request: each page's wait starts afresh.
    c.stop.clear();
    waitUntilDoneOrStopped([&] { return document->isDone(); }, c.stop);

    // No yield happens between the links of one page, so the address is read once.
    const QString wanted = c.host.searchedAddress();
    // With resources on, a page that embeds the address links to it as much as one that links.
    QStringList links;
    if (c.options.resources) {
        for (const FoundLink &link : document->foundLinks())
            links.append(link.address);
    } else {
        links = document->links();
    }
    for (const QString &address : links) {
        if (address != wanted)
            continue;
        // The scanned page itself: the list's selection may have moved or emptied meanwhile.
        c.site.referringPages.append(pageAddress);
    }
}

} // namespace

void findReferringPages(const CommandContext &c, PageLoader &loader)
{
    c.stop.clear();
    loader.startRun();
    // The walk fixes its bound when it begins: entries added while the search runs are not
    // visited. It yields nowhere: the waits for the pages give the window its turns.
    LoadsAhead<PageLoad> ahead(
            [&loader, page = LoadRequest {.mode = LoadMode::Page,
                                          .reading = {.resources = c.options.resources}}](
                    const QString &address) { return loader.load(address, page); },
            c.stop, c.loadAhead, c.options.perHost);
    ListWalk walk {
            .list = c.site.internal, .stop = c.stop, .loads = ahead, .yieldAroundWork = false};
    walk.progress = [&c](qsizetype index, qsizetype bound) {
        c.host.progress(QStringLiteral("searching %1 of %2").arg(index + 1).arg(bound));
    };
    // Only pages are searched, as only pages are crawled.
    if (!crawlsEveryEntry(c))
        walk.passOver = [&c](const QString &address) { return !isCrawledPage(c, address); };
    walkList(walk, [&](const QString &address) {
        scanPageForLink(c, ahead.takeOrStart(address), address);
        return false;
    });
}

} // namespace skarnel
