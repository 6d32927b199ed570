#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace skarnel {

// The pages on which the crawl found each address it met.
//
// Memory stays bounded however many pages link to one address: an address keeps the first
// KeptPages pages it was found on, in the order the crawl met them, and the number of all of them.
// A page is counted once for an address however often it links there.
class LinkOrigins final
{
public:
    static constexpr qsizetype KeptPages = 100;

    struct Origins
    {
        QStringList pages; // the first KeptPages of them
        qint64 count = 0;  // all of them
        qint64 lastVisit = 0;
    };

    // Notes that `page` links to `address`.
    void note(const QString &address, const QString &page);
    // Where `address` was found, or null when no page linking to it was noted.
    const Origins *find(const QString &address) const;
    void clear();

private:
    QHash<QString, Origins> origins;
    // A visit is a run of notes from one page; a page links to an address more than once mostly
    // within one visit, which the address's last visit tells without looking at its pages.
    qint64 visit = 0;
    QString visitedPage;
    // Past the kept pages, a page is counted only on its first visit: a crawl run again without
    // New meets the same pages again. The number of visits of each page noted.
    QHash<QString, qint64> visitsOfPage;
    bool firstVisit = true;
};

} // namespace skarnel
