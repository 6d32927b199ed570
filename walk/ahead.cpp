#include "ahead.h"

#include <widgets/listbox.h>

namespace {

// Looking further ahead than the loads it may hold finds other hosts to load from while one
// host has all its connections busy.
constexpr qsizetype LookAhead = 64;
constexpr LoadsAhead<HtmlDocument>::Limits DocumentLimits{4, 16};
constexpr LoadsAhead<PageFetch>::Limits FetchLimits{4, 16};

} // namespace

std::vector<QString> upcomingEntries(const ListBox &list, qsizetype from, qsizetype bound)
{
    std::vector<QString> upcoming;
    const qsizetype end = std::min({bound, list.count(), from + LookAhead});
    for (qsizetype i = std::max<qsizetype>(from, 0); i < end; ++i)
        upcoming.push_back(list.text(i));
    return upcoming;
}

DocumentsAhead::DocumentsAhead(HtmlDocumentService &documents, const qint16 &stopRequested,
                               bool enabled)
    : ahead([&documents](const QString &address) { return documents.createDocumentFromUrl(address); },
            DocumentLimits, stopRequested, enabled)
{
}

void DocumentsAhead::fill(const ListBox &list, qsizetype from, qsizetype bound)
{
    ahead.topUp(upcomingEntries(list, from, bound));
}

std::unique_ptr<HtmlDocument> DocumentsAhead::createDocumentFromUrl(const QString &address)
{
    return ahead.takeOrStart(address);
}

TransferAhead::TransferAhead(InternetTransfer &transfer, const qint16 &stopRequested, bool enabled)
    : ahead([&transfer](const QString &address) { return transfer.openUrl(address); }, FetchLimits,
            stopRequested, enabled)
{
}

void TransferAhead::fill(const ListBox &list, qsizetype from, qsizetype bound)
{
    ahead.topUp(upcomingEntries(list, from, bound));
}

std::unique_ptr<PageFetch> TransferAhead::openUrl(const QString &address)
{
    return ahead.takeOrStart(address);
}
