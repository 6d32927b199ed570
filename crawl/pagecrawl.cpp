#include "pagecrawl.h"

#include "crawlcontrols.h"
#include "linkfilter.h"
#include "linkorigins.h"

#include <net/htmldocument.h>
#include <walk/eventloop.h>
#include <walk/stopflag.h>
#include <widgets/labelledcounter.h>
#include <widgets/listbox.h>

#include <QLineEdit>
#include <QPushButton>

namespace skarnel {

namespace {

void recordLink(CrawlControls &w, const QString &address)
{
    const bool internal = classifyLink(address, w.address.text()) == LinkKind::Internal;
    ListBox &list = internal ? w.internal : w.external;

    // Looking for the address leaves the list's last entry selected, as a walk over the list
    // would; the index answers without the walk.
    if (list.count() > 0)
        list.setCurrentIndex(list.count() - 1);
    if (list.contains(address))
        return;

    list.addItem(address);
    LabelledCounter &counter = internal ? w.internalCount : w.externalCount;
    counter.add();
    w.totalCount.add();
    counter.show();
    w.totalCount.show();
    // Once a stop is requested the page's other links are recorded without giving the window its
    // turn in between, so that the stop takes effect at once however many links the page holds.
    if (!w.stop.isRequested())
        yieldToEventLoop();
}

} // namespace

void crawlPage(CrawlControls &w, const std::unique_ptr<HtmlDocument> document,
               const QString &pageAddress)
{
    w.window.setCursor(Qt::WaitCursor);
    if (w.stop.isRequested()) {
        w.window.unsetCursor();
        return;
    }

    if (document) {
        waitUntilDoneOrStopped([&] { return document->readyState() == ReadyStateComplete; },
                               w.stop);
        const QStringList links = document->links();
        for (const QString &address : links) {
            if (!passesLinkFilter(address))
                continue;
            // Noted before the link is recorded: recording yields, and New may clear the notes.
            w.origins.note(address, pageAddress);
            recordLink(w, address);
        }
    }

    w.window.unsetCursor();
    w.crawl.setEnabled(true);
    w.address.setEnabled(true);
}

} // namespace skarnel
