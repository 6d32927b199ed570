#pragma once

#include <net/htmldocument.h>
#include <walk/loadsahead.h>
#include <net/internettransfer.h>

class ListBox;

// The entries after `from` up to `bound` (exclusive) that a walk will reach next, as many as
// are worth loading ahead.
std::vector<QString> upcomingEntries(const ListBox &list, qsizetype from, qsizetype bound);

// A document service for one list walk that hands out documents loaded ahead. Once a stop is
// requested it starts nothing more and abandons what it holds. Disabled, it loads each page
// only when asked, one after the other.
class DocumentsAhead final : public HtmlDocumentService
{
public:
    DocumentsAhead(HtmlDocumentService &documents, const qint16 &stopRequested, bool enabled);

    // Loads ahead the pages of the entries after `from`, up to the walk's bound.
    void fill(const ListBox &list, qsizetype from, qsizetype bound);
    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) override;

private:
    LoadsAhead<HtmlDocument> ahead;
};

// The same for the raw fetches of the broken-link check.
class TransferAhead final : public InternetTransfer
{
public:
    TransferAhead(InternetTransfer &transfer, const qint16 &stopRequested, bool enabled);

    void fill(const ListBox &list, qsizetype from, qsizetype bound);
    std::unique_ptr<PageFetch> openUrl(const QString &address) override;

private:
    LoadsAhead<PageFetch> ahead;
};
