#include "crawlrun.h"

#include "pagecrawl.h"

#include <html/webaddress.h>
#include <net/pageload.h>
#include <walk/commandcontext.h>
#include <walk/commandhost.h>
#include <walk/eventloop.h>
#include <walk/listwalk.h>
#include <walk/loadsahead.h>
#include <walk/stopflag.h>

#include <site/sitemodel.h>

#include <algorithm>

namespace skarnel {

namespace {

bool isOnlySpaces(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == QLatin1Char(' '); });
}

} // namespace

bool runCrawl(const CommandContext &c, PageLoader &loader)
{
    return runCrawl(c, loader, nullptr);
}

bool runCrawl(const CommandContext &c, PageLoader &loader, std::unique_ptr<PageLoad> startPage)
{
    if (isOnlySpaces(c.host.startAddress()))
        return false;

    c.stop.clear();
    loader.startRun();
    c.host.setCrawlEnabled(false);
    c.host.setForceStopEnabled(true);

    c.host.progress(QStringLiteral("crawling the start page"));
    const LoadRequest page {
            .mode = LoadMode::Page,
            .reading = {.resources = c.options.resources, .anchors = c.options.fragments}};
    const QString start = c.host.startAddress();
    // The pages its links are found on name it without a login typed in it.
    const QString startListed = withoutUserInfo(start);
    // Of the whole site, the pages loaded count up to the limit, the start page's load among them;
    // a page past it is not loaded, and the walk ends when it reaches one.
    const bool limited = c.options.wholeSite;
    qsizetype loads = 0;
    const auto load = [&](const QString &address) -> std::unique_ptr<PageLoad> {
        if (limited && loads >= c.options.pageLimit)
            return nullptr;
        ++loads;
        return loader.load(address, page);
    };
    if (startPage) {
        ++loads;
        crawlPage(c, std::move(startPage), startListed);
    } else if (!c.options.askOnce || !c.site.loadedPages.contains(startListed)) {
        crawlPage(c, load(start), startListed);
    }

    // The walk fixes its bound when it begins: pages that the internal pages add are recorded,
    // not loaded, unless the crawl goes over the whole site. An entry that is gone (New emptied
    // the list) ends the run as a stop would.
    LoadsAhead<PageLoad> ahead(load, c.stop, c.loadAhead, c.options.perHost);
    ListWalk walk {.list = c.site.internal, .stop = c.stop, .loads = ahead, .growing = limited};
    walk.progress = [&c](qsizetype index, qsizetype bound) {
        c.host.progress(QStringLiteral("crawling %1 of %2").arg(index + 2).arg(bound + 1));
    };
    // Only pages are crawled: not the images, styles, scripts and frames a page names, nor the
    // pages the user keeps out of the crawl.
    if (!crawlsEveryEntry(c))
        walk.passOver = [&c](const QString &address) { return !isCrawledPage(c, address); };
    if (c.options.askOnce)
        walk.passOver = [&c](const QString &address) {
            return c.site.loadedPages.contains(address) || !isCrawledPage(c, address);
        };
    bool atLimit = false;
    walkList(walk, [&](const QString &address) {
        std::unique_ptr<PageLoad> document = ahead.takeOrStart(address);
        if (!document && limited) {
            atLimit = true;
            c.stop.request();
            return false;
        }
        crawlPage(c, std::move(document), address);
        return true;
    });

    c.host.setCheckEnabled(true);
    return atLimit;
}

void forceStop(const CommandContext &c)
{
    c.stop.request();
    c.host.setBusy(false);
    yieldToEventLoop();
    c.host.setBusy(false);
    yieldToEventLoop();
    c.host.setCheckEnabled(true);
}

} // namespace skarnel
