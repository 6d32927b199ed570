#include "crawlrun.h"

#include "crawlcontrols.h"
#include "pagecrawl.h"

#include <net/htmldocument.h>
#include <walk/eventloop.h>
#include <walk/listwalk.h>
#include <walk/loadsahead.h>
#include <walk/stopflag.h>
#include <widgets/listbox.h>

#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace skarnel {

namespace {

bool isOnlySpaces(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == QLatin1Char(' '); });
}

} // namespace

void runCrawl(CrawlControls &w, HtmlDocumentService &documents)
{
    if (isOnlySpaces(w.address.text()))
        return;

    w.stop.clear();
    w.crawl.setEnabled(false);
    w.forceStop.setEnabled(true);
    w.address.setEnabled(false);

    if (w.progress)
        w.progress(QStringLiteral("crawling the start page"));
    const QString start = w.address.text();
    crawlPage(w, documents.createDocumentFromUrl(start), start);

    // The walk fixes its bound when it begins: pages that the internal pages add are recorded,
    // not loaded. An entry that is gone (New emptied the list) ends the run as a stop would.
    LoadsAhead<HtmlDocument> ahead(
            [&documents](const QString &address) {
                return documents.createDocumentFromUrl(address);
            },
            w.stop, w.loadAhead);
    ListWalk walk {.list = w.internal, .stop = w.stop, .loads = ahead};
    if (w.progress) {
        walk.progress = [&w](qsizetype index, qsizetype bound) {
            w.progress(QStringLiteral("crawling %1 of %2").arg(index + 2).arg(bound + 1));
        };
    }
    walkList(walk, [&](const QString &address) {
        crawlPage(w, ahead.takeOrStart(address), address);
        return true;
    });

    w.checkBroken.setEnabled(true);
}

void forceStop(CrawlControls &w)
{
    w.stop.request();
    w.window.unsetCursor();
    yieldToEventLoop();
    w.window.unsetCursor();
    yieldToEventLoop();
    w.checkBroken.setEnabled(true);
}

} // namespace skarnel
