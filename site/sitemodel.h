#pragma once

#include <QSet>

#include <kinds/addresskind.h>
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

    // The kind of each listed address, while the crawl reads more than links; an address found
    // as a page link anywhere is a page, and one not noted is a page.
    QHash<QString, AddressKind> kinds;
    // The #fragments the crawl met for each listed page, each once, in the order met.
    QHash<QString, QStringList> fragments;
    // The anchors of each page the crawl read whole, while #fragments are verified: the check
    // reads a page's anchors only when the crawl did not.
    QHash<QString, QStringList> anchors;
    // While each address is asked once a run: the pages a crawl loaded, which a later crawl does
    // not load again, and the answers of those it read whole, which the check judges in place of
    // fetching them (and then drops).
    QSet<QString> loadedPages;
    QHash<QString, HeldAnswer> heldAnswers;

    AddressKind kindOf(const QString &address) const
    {
        return kinds.value(address, AddressKind::Page);
    }
    // Notes that a page names `address` as a `kind`; once found as a page, it stays one.
    void noteKind(const QString &address, AddressKind kind)
    {
        auto found = kinds.find(address);
        if (found == kinds.end())
            kinds.insert(address, kind);
        else if (kind == AddressKind::Page)
            *found = kind;
    }
    // Notes that a page links to `fragment` of `page`; each once.
    void noteFragment(const QString &page, const QString &fragment)
    {
        const QString whole = page + QLatin1Char('#') + fragment;
        if (fragmentsMet.contains(whole))
            return;
        fragmentsMet.insert(whole);
        fragments[page].append(fragment);
    }

    // For another site: the lists, their counts, the verdicts and the broken pages are emptied.
    // The error texts and the pages found by the searches stay.
    void clearSite()
    {
        internal.clear();
        external.clear();
        brokenPages.clear();
        results.clear();
        origins.clear();
        kinds.clear();
        fragments.clear();
        fragmentsMet.clear();
        anchors.clear();
        loadedPages.clear();
        heldAnswers.clear();
        for (Counter *counter : {&internalCount, &externalCount, &brokenCount, &totalCount})
            counter->reset();
    }

private:
    QSet<QString> fragmentsMet; // page#fragment
};

} // namespace skarnel
