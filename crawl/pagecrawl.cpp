#include "pagecrawl.h"

#include "linkfilter.h"

#include <check/brokenlinkcheck.h>
#include <html/webaddress.h>
#include <net/pageload.h>
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
    // A login typed in it is no part of the site's addresses.
    const bool internal =
            classifyLink(address, withoutUserInfo(c.host.siteAddress())) == LinkKind::Internal;
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
bool needsAnchor(const QString &fragment);

// Records one address that `pageAddress` names as a `kind`, when it passes the link filter; with
// fragments on, under its address without the fragment, which is noted for its page.
void recordFound(const CommandContext &c, const QString &address, AddressKind kind,
                 const QString &pageAddress)
{
    QString listed = address;
    QString fragment;
    if (c.options.fragments) {
        if (const qsizetype hash = address.indexOf(QLatin1Char('#')); hash >= 0) {
            listed = address.first(hash);
            fragment = address.sliced(hash + 1);
        }
    }
    // A site read from a built folder lists its files' addresses.
    static const QString file = QStringLiteral("file:");
    if (!passesLinkFilter(listed, c.host.startAddress().startsWith(file)))
        return;
    // Noted before the link is recorded: recording yields, and New may clear the notes.
    c.site.origins.note(listed, pageAddress);
    if (needsAnchor(fragment)) {
        c.site.noteFragment(listed, fragment);
        c.site.origins.note(address, pageAddress);
    }
    if (c.options.resources)
        c.site.noteKind(listed, kind);
    recordLink(c, listed);
}

bool needsAnchor(const QString &fragment)
{
    return !fragment.isEmpty() && fragment.compare(QLatin1String("top"), Qt::CaseInsensitive) != 0;
}

} // namespace

void crawlPage(const CommandContext &c, const std::unique_ptr<PageLoad> document,
               const QString &pageAddress)
{
    c.host.setBusy(true);
    if (c.stop.isRequested()) {
        c.host.setBusy(false);
        return;
    }

    if (document) {
        const bool done = waitUntilDoneOrStopped([&] { return document->isDone(); }, c.stop);
        if (done && c.options.askOnce) {
            c.site.loadedPages.insert(pageAddress);
            if (std::optional<HeldAnswer> held = heldAnswerOf(*document, c.site.errorTexts))
                c.site.heldAnswers.insert(pageAddress, std::move(*held));
        }
        if (c.options.fragments) {
            if (std::optional<QStringList> anchors = document->anchors())
                c.site.anchors.insert(pageAddress, std::move(*anchors));
        }
        if (c.options.resources) {
            const QList<FoundLink> found = document->foundLinks();
            for (const FoundLink &link : found)
                recordFound(c, link.address, link.kind, pageAddress);
        } else {
            const QStringList links = document->links();
            for (const QString &address : links)
                recordFound(c, address, AddressKind::Page, pageAddress);
        }
    }

    c.host.setBusy(false);
    c.host.setCrawlEnabled(true);
}

} // namespace skarnel
