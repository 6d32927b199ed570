#include "referrersearch.h"

#include "referrercontrols.h"

#include <net/htmldocument.h>
#include <walk/eventloop.h>
#include <walk/listwalk.h>
#include <walk/loadsahead.h>
#include <walk/stopflag.h>
#include <widgets/listbox.h>
#include <widgets/multilinetextbox.h>

#include <QLineEdit>

namespace skarnel {

namespace {

// One page of the search: waits for the page's document (a stop request ends the wait and the
// links read so far are still compared) and appends the page's address for every match.
void scanPageForLink(ReferrerControls &w, const std::unique_ptr<HtmlDocument> document,
                     const QString &pageAddress)
{
    if (!document)
        return;
    // Cleared here, after the request: each page's wait starts afresh.
    w.stop.clear();
    waitUntilDoneOrStopped([&] { return document->readyState() == ReadyStateComplete; }, w.stop);

    // No yield happens between the links of one page, so the address is read once.
    const QString wanted = w.link.text();
    const QStringList links = document->links();
    for (const QString &address : links) {
        if (address != wanted)
            continue;
        // The scanned page itself: the list's selection may have moved or emptied meanwhile.
        w.results.appendLine(pageAddress);
    }
}

} // namespace

void findReferringPages(ReferrerControls &w, HtmlDocumentService &documents)
{
    w.stop.clear();
    // The walk fixes its bound when it begins: entries added while the search runs are not
    // visited. It yields nowhere: the waits for the pages give the window its turns.
    LoadsAhead<HtmlDocument> ahead(
            [&documents](const QString &address) {
                return documents.createDocumentFromUrl(address);
            },
            w.stop, w.loadAhead);
    ListWalk walk {.list = w.internal, .stop = w.stop, .loads = ahead, .yieldAroundWork = false};
    if (w.progress) {
        walk.progress = [&w](qsizetype index, qsizetype bound) {
            w.progress(QStringLiteral("searching %1 of %2").arg(index + 1).arg(bound));
        };
    }
    walkList(walk, [&](const QString &address) {
        scanPageForLink(w, ahead.takeOrStart(address), address);
        return false;
    });
}

} // namespace skarnel
