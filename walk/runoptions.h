#pragma once

#include <net/networkpolicy.h>

#include <QList>
#include <QRegularExpression>

namespace skarnel {

// The switches that change what the crawl, the check and the search do. Each is off by default:
// off, the commands do exactly what the window's own controls describe.
struct RunOptions
{
    // Besides the links of <a> and <area>, the images, styles, scripts, frames and other
    // addresses a page makes a browser fetch are listed, and checked by their answer alone.
    bool resources = false;
    // An address with a #fragment is listed under its address without it, and each fragment is
    // verified against the anchors of its page.
    bool fragments = false;
    // A first redirect that is permanent (301, 308) makes the address broken.
    bool strictRedirects = false;
    // Statuses of 400 and above that count as fine all the same.
    QList<int> acceptedStatuses;
    // Addresses that are listed but not checked; an empty pattern excludes none.
    QRegularExpression exclude;
    // Pages that are listed but not crawled; an empty pattern spares none.
    QRegularExpression noCrawl;
    // Requests the network lets run at once to one host: the walks load as many ahead for it.
    int perHost = DefaultPerHost;
    // Each address is asked once a run: a later crawl does not load a page an earlier one loaded,
    // and the check judges a page the crawl read whole by the crawl's answer instead of fetching
    // it again. Off, the check fetches every page afresh (the user may check an hour after the
    // crawl).
    bool askOnce = false;
    // The crawl goes on over the pages it lists, level after level, until it lists no new
    // internal page, each page loaded once; it loads `pageLimit` pages at most.
    bool wholeSite = false;
    qsizetype pageLimit = 100000;
};

} // namespace skarnel
