#include "crawlrun.h"

#include "crawlwindow.h"
#include "pagecrawl.h"

#include <walk/ahead.h>
#include <walk/eventloop.h>
#include <widgets/listbox.h>

#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace {

bool isOnlySpaces(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == QLatin1Char(' '); });
}

} // namespace

void runCrawl(CrawlWindow &w)
{
    if (isOnlySpaces(w.address.text()))
        return;

    w.stopRequested = 0;
    w.crawl.setEnabled(false);
    w.forceStop.setEnabled(true);
    w.address.setEnabled(false);

    if (w.progress)
        w.progress(QStringLiteral("crawling the start page"));
    crawlPage(w, w.documents, w.address.text());

    // The bound is fixed here: pages that the internal pages add are recorded, not loaded.
    const qsizetype pages = w.internal.count();
    DocumentsAhead ahead(w.documents, w.stopRequested, w.loadAhead);
    for (qsizetype i = 0; i < pages; ++i) {
        // An entry that is gone (New emptied the list) ends the run as a stop would.
        if (!w.internal.setCurrentIndex(i) || w.stopRequested == -1)
            break;
        ahead.fill(w.internal, i, pages);
        if (w.progress)
            w.progress(QStringLiteral("crawling %1 of %2").arg(i + 2).arg(pages + 1));
        yieldToEventLoop();
        // The current entry, not entry i: the user may have selected another one meanwhile.
        crawlPage(w, ahead, w.internal.currentText());
        yieldToEventLoop();
    }

    w.checkBroken.setEnabled(true);
}

void forceStop(CrawlWindow &w)
{
    w.stopRequested = -1;
    w.window.unsetCursor();
    yieldToEventLoop();
    w.window.unsetCursor();
    yieldToEventLoop();
    w.checkBroken.setEnabled(true);
}
