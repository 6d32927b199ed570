#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace skarnel {

class PageLoader;
class RobotsGate;
struct SiteModel;

// Where the sitemaps' pages go and what is told of them.
struct SitemapRun
{
    SiteModel &site;
    // The start address without its login: the link rule's start.
    QString start;
    // The sitemap's address, or sitemapAuto: the sitemaps the start origin's robots.txt names,
    // else its /sitemap.xml.
    QString sitemap;
    // Whether a stop has been asked for: the reading ends at once.
    std::function<bool()> stopRequested;
    // The form the lists give an address of the sitemap (a built folder's page under its site
    // address: its file:// form); none: the address as written.
    std::function<QString(const QString &)> listed = nullptr;
};

// Reads the sitemaps `run.sitemap` names, an index's sitemaps one level down, at most
// sitemapsPerRun in all, each read from `loader` as it arrives within the protocol's 50 MB, never
// held whole. Every address of a urlset that is internal by the link rule joins the internal list
// as a link found on that sitemap; any other address (file:// too) is not of this site and is
// never listed or fetched. Returns the lines the user must read: each sitemap that cannot be read,
// and the addresses that are not of this site (the first few a sitemap, then their number).
QStringList addSitemapPages(const SitemapRun &run, PageLoader &loader, RobotsGate &gate);

} // namespace skarnel
