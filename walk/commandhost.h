#pragma once

#include <QString>

namespace skarnel {

// What a long command asks of the face it runs under, beyond the site's data: the window shows
// and answers all of it; the command line answers the start address and shows the progress, and
// leaves the rest as it is here.
class CommandHost
{
public:
    // The start address, as the address box holds it now: read afresh at every use, so that an
    // edit made while a command runs applies from its next use.
    virtual QString startAddress() const = 0;
    // Where the site ends: an address that begins with it is internal. The start address, but
    // for a site read from a built folder started at one of its files: the folder.
    virtual QString siteAddress() const { return startAddress(); }
    // The address the search looks for, read afresh at every page.
    virtual QString searchedAddress() const { return {}; }

    // The busy pointer while a page is crawled.
    virtual void setBusy(bool) { }
    // Crawl and the address box.
    virtual void setCrawlEnabled(bool) { }
    virtual void setForceStopEnabled(bool) { }
    virtual void setCheckEnabled(bool) { }
    // The start of the lower-cased text of the page the check fetched last.
    virtual void showPageText(const QString &) { }
    // No page text: the page the check fetched last gave none.
    virtual void clearPageText() { }

    // What the running command does and how far it is ("checking 123 of 864"), at most once a
    // page.
    virtual void progress(const QString &) { }

protected:
    ~CommandHost() = default;
};

} // namespace skarnel
