#include "brokenlinkcheck.h"

#include "checkwindow.h"

#include <platform/ahead.h>
#include <platform/eventloop.h>
#include <platform/labelledcounter.h>
#include <platform/listbox.h>
#include <platform/textbox.h>
#include <platform/transfer.h>

namespace {

void recordBroken(CheckWindow &w, const ListBox &list)
{
    w.brokenCount.add();
    w.brokenCount.show();
    // The current entry is the page just checked, unless the user selected another meanwhile.
    w.brokenPages.appendLine(list.currentText());
}

// Whether the page text shows one of the error texts. Walks the error list as the user sees it,
// making each text current in turn, and stops at the first one found.
bool showsErrorText(ListBox &errors, const QString &lowerPageText)
{
    if (lowerPageText.isEmpty())
        return false;
    const qsizetype texts = errors.count();
    for (qsizetype j = 0; j < texts; ++j) {
        if (!errors.setCurrentIndex(j))
            break;
        if (lowerPageText.contains(errors.currentText().toLower()))
            return true;
    }
    return false;
}

enum class Fetched { Page, Failed, Aborted };

Fetched fetchIntoPageText(CheckWindow &w, InternetTransfer &transfer, const QString &address)
{
    const std::unique_ptr<PageFetch> fetch = transfer.openUrl(address);
    while (!fetch->isFinished() && w.stopRequested != -1)
        sleepUntilNextEvent();
    if (!fetch->isFinished())
        return Fetched::Aborted; // the fetch closes its connection as it goes
    if (fetch->failed()) {
        w.pageText.clear();
        return Fetched::Failed;
    }
    w.pageText.setPlainText(fetch->text().toLower());
    return Fetched::Page;
}

void checkPages(CheckWindow &w, ListBox &list)
{
    // The bound is fixed here: entries added while the phase runs are not visited.
    const qsizetype pages = list.count();
    TransferAhead ahead(w.transfer, w.stopRequested, w.loadAhead);
    for (qsizetype i = 0; i < pages; ++i) {
        if (!list.setCurrentIndex(i) || w.stopRequested == -1)
            return;
        ahead.fill(list, i, pages);
        yieldToEventLoop();

        const Fetched fetched = fetchIntoPageText(w, ahead, list.currentText());
        if (fetched == Fetched::Aborted)
            continue;
        yieldToEventLoop();

        // New may have emptied the list meanwhile: a page that is no longer listed counts nothing.
        if (list.currentIndex() < 0)
            continue;
        if (fetched == Fetched::Failed
            || showsErrorText(w.errors, w.pageText.toPlainText().toLower()))
            recordBroken(w, list);
    }
}

} // namespace

void runBrokenLinkCheck(CheckWindow &w)
{
    w.stopRequested = 0;
    w.brokenCount.reset();
    w.brokenPages.clear();

    checkPages(w, w.internal);
    // After a stop in the internal phase the external phase selects its first entry and ends.
    checkPages(w, w.external);
}
