#include "pagecrawl.h"

#include "linkfilter.h"

#include <net/htmldocument.h>
#include <walk/commandcontext.h>
#include <walk/commandhost.h>
#include <walk/eventloop.h>
#include <walk/stopflag.h>

#include <site/sitemodel.h>

namespace skarnel {

namespace {

void recordLink(const CommandContext &c, const QString &address)
{
    SiteModel &site = c.site;
    // The start address is read afresh for every link: an edit made meanwhile applies from here.
    const bool internal = classifyLink(address, c.host.startAddress()) == LinkKind::Internal;
    LinkList &list = internal ? site.internal : site.external;

    // Looking for the address leaves the list's last entry selected, as a walk over the list
    // would; the index answers without the walk.
    if (list.count() > 0)
        list.setCurrentIndex(list.count() - 1);
    if (list.contains(address))
        return;

    list.append(address);
    (internal ? site.internalCount : site.externalCount).add();
    site.totalCount.add();
    // Once a stop is requested the page's other links are recorded without giving the window its
    // turn in between, so that the stop takes effect at once however many links the page holds.
    if (!c.stop.isRequested())
        yieldToEventLoop();
}

// An empty fragment and "top" lead to the top of any page: they need no anchor.
bool needsAnchor(const QString &fragment)
{
    return !fragment.isEmpty() && fragment.compare(QLatin1String("top"), Qt::CaseInsensitive) != 0;
}

} // namespace

void crawlPage(const CommandContext &c, const std::unique_ptr<HtmlDocument> document,
               const QString &pageAddress)
{
    c.host.setBusy(true);
    if (c.stop.isRequested()) {
        c.host.setBusy(false);
        return;
    }

    if (document) {
        waitUntilDoneOrStopped([&] { return document->readyState() == ReadyStateComplete; },
                               c.stop);
        const QStringList links = document->links();
        for (const QString &address : links) {
            if (!c.options.fragments) {
                if (!passesLinkFilter(address))
                    continue;
                // Noted before the link is recorded: recording yields, and New may clear them.
                c.site.origins.note(address, pageAddress);
                recordLink(c, address);
                continue;
            }
            const qsizetype hash = address.indexOf(QLatin1Char('#'));
            const QString listed = hash < 0 ? address : address.first(hash);
            if (!passesLinkFilter(listed))
                continue;
            c.site.origins.note(listed, pageAddress);
            if (hash >= 0 && needsAnchor(address.sliced(hash + 1))) {
                c.site.noteFragment(listed, address.sliced(hash + 1));
                c.site.origins.note(address, pageAddress);
            }
            recordLink(c, listed);
        }
    }

    c.host.setBusy(false);
    c.host.setCrawlEnabled(true);
}

} // namespace skarnel
