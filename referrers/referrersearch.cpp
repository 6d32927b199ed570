#include "referrersearch.h"

#include "referrerwindow.h"

#include <walk/ahead.h>
#include <walk/eventloop.h>
#include <net/htmldocument.h>
#include <widgets/listbox.h>
#include <widgets/multilinetextbox.h>

#include <QLineEdit>

void findReferringPages(ReferrerWindow &w)
{
    w.stopRequested = 0;
    // The bound is fixed here: entries added while the search runs are not visited.
    const qsizetype pages = w.internal.count();
    DocumentsAhead ahead(w.documents, w.stopRequested, w.loadAhead);
    for (qsizetype i = 0; i < pages; ++i) {
        if (!w.internal.setCurrentIndex(i) || w.stopRequested == -1)
            break;
        ahead.fill(w.internal, i, pages);
        if (w.progress)
            w.progress(QStringLiteral("searching %1 of %2").arg(i + 1).arg(pages));
        scanPageForLink(w, ahead, w.internal.currentText());
    }
}

void scanPageForLink(ReferrerWindow &w, HtmlDocumentService &documents, const QString &pageAddress)
{
    const std::unique_ptr<HtmlDocument> document = documents.createDocumentFromUrl(pageAddress);
    if (!document)
        return;
    // Cleared here, after the request: each page's wait starts afresh.
    w.stopRequested = 0;
    while (document->readyState() != ReadyStateComplete && w.stopRequested != -1)
        sleepUntilNextEvent();

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
