#pragma once

#include <site/checkresults.h>
#include <site/counter.h>
#include <site/linelog.h>
#include <site/linklist.h>
#include <site/linkorigins.h>

namespace skarnel {

// Everything the crawl, the check and the search of one site find, in one place below whatever
// shows it: the window's controls are views of it, and the command line reads it without any.
//
// The commands change it; its parts tell their observers what changed. The lists and the counts
// live as long as the model; only clearSite() (New) empties the lists and starts the counts again.
struct SiteModel
{
    SiteModel() = default;
    SiteModel(const SiteModel &) = delete;
    SiteModel &operator=(const SiteModel &) = delete;

    LinkList internal;
    LinkList external;
    LinkList errorTexts;

    Counter internalCount;
    Counter externalCount;
    Counter totalCount;
    Counter brokenCount;

    CheckResults results;   // the verdict of every page the last check fetched
    LinkOrigins origins;    // where each listed address was found
    LineLog brokenPages;    // one broken page a line
    LineLog referringPages; // one referring page a line, only ever appended to

    // For another site: the lists, their counts, the verdicts and the broken pages are emptied.
    // The error texts and the pages found by the searches stay.
    void clearSite()
    {
        internal.clear();
        external.clear();
        brokenPages.clear();
        results.clear();
        origins.clear();
        for (Counter *counter : {&internalCount, &externalCount, &brokenCount, &totalCount})
            counter->reset();
    }
};

} // namespace skarnel
