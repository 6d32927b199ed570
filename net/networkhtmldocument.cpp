#include "networkhtmldocument.h"

#include <net/asidereading.h>
#include <net/pagedownload.h>

namespace skarnel {

namespace {

bool hasBodyToRead(PageDownload::Outcome outcome)
{
    switch (outcome) {
    case PageDownload::Outcome::Complete:
    case PageDownload::Outcome::Capped:
    case PageDownload::Outcome::TimedOut:
        return true;
    case PageDownload::Outcome::Running:
    case PageDownload::Outcome::NotHtml:
    case PageDownload::Outcome::Failed:
        return false;
    }
    return false;
}

} // namespace

NetworkHtmlDocument::NetworkHtmlDocument(std::unique_ptr<PageDownload> pageDownload,
                                         PageReadOptions readOptions)
    : download(std::move(pageDownload))
    , options(readOptions)
    , reading(std::make_unique<AsideReading>())
{
    // The download is the connection's context: it goes with the document.
    QObject::connect(download.get(), &PageDownload::ended, download.get(), [this] { readAside(); });
}

NetworkHtmlDocument::~NetworkHtmlDocument() = default;

void NetworkHtmlDocument::readAside()
{
    if (hasBodyToRead(download->outcome()))
        reading->start(*download, options);
}

QString NetworkHtmlDocument::readyState() const
{
    const PageDownload::Outcome outcome = download->outcome();
    if (outcome == PageDownload::Outcome::Running || (hasBodyToRead(outcome) && !reading->isDone()))
        return ReadyStateLoading;
    return ReadyStateComplete;
}

QString NetworkHtmlDocument::finalAddress() const
{
    return download->finalAddress().toString(QUrl::FullyEncoded);
}

RedirectKind NetworkHtmlDocument::redirectKind() const
{
    return download->redirectKind();
}

QList<FoundLink> NetworkHtmlDocument::foundLinks() const
{
    return reading->result().links;
}

// Only a whole page that answered 2xx with HTML has anchors worth telling: a page cut short by
// its limits would have them guessed.
std::optional<QStringList> NetworkHtmlDocument::anchors() const
{
    const int status = download->status();
    if (!options.anchors || !reading->isDone()
        || download->outcome() != PageDownload::Outcome::Complete || status < 200 || status > 299)
        return std::nullopt;
    const PageReading read = reading->result();
    if (!read.complete)
        return std::nullopt;
    return read.anchors;
}

QStringList NetworkHtmlDocument::links() const
{
    QStringList pages;
    const QList<FoundLink> found = foundLinks();
    pages.reserve(found.size());
    for (const FoundLink &link : found)
        if (link.kind == ResourceKind::Page)
            pages.append(link.address);
    return pages;
}

} // namespace skarnel
