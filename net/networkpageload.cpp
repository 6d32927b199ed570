#include "networkpageload.h"

#include <html/htmldecoding.h>
#include <net/asidereading.h>
#include <net/pagedownload.h>

namespace skarnel {

NetworkPageLoad::NetworkPageLoad(std::unique_ptr<PageDownload> pageDownload,
                                 const LoadRequest &request)
    : download(std::move(pageDownload))
    , mode(request.mode)
    , reading(request.mode == LoadMode::Page
                      ? request.reading
                      : PageReadOptions {.resources = false, .anchors = true})
{
    if (mode == LoadMode::Bytes && request.onBody)
        download->setBodySink(request.onBody);
    if (mode == LoadMode::Text || mode == LoadMode::HeadersOnly || mode == LoadMode::Bytes)
        return;
    // The download is the connection's context: it goes with the load. A download that failed at
    // once, in its constructor, has nothing to read.
    QObject::connect(download.get(), &PageDownload::ended, download.get(), [this] { readAside(); });
}

NetworkPageLoad::~NetworkPageLoad() = default;

// A page without a Content-Type is read as HTML, as a browser would sniff it.
bool NetworkPageLoad::isReadAsHtml() const
{
    return download->contentType().isEmpty() || isHtmlContentType(download->contentType());
}

bool NetworkPageLoad::wantsAnchors() const
{
    return reading.anchors && isWholeSuccess(download->outcome(), download->status())
           && isReadAsHtml();
}

void NetworkPageLoad::readAside()
{
    bool worthReading = false;
    if (mode == LoadMode::Page) {
        const LoadOutcome ended = download->outcome();
        worthReading = ended == LoadOutcome::Complete || ended == LoadOutcome::Capped
                       || ended == LoadOutcome::TimedOut;
    } else {
        worthReading = wantsAnchors();
    }
    if (!worthReading)
        return;
    aside = std::make_unique<AsideReading>();
    aside->start(*download, reading);
}

bool NetworkPageLoad::isDone() const
{
    return download->outcome() != LoadOutcome::Running && (!aside || aside->isDone());
}

LoadOutcome NetworkPageLoad::outcome() const
{
    return isDone() ? download->outcome() : LoadOutcome::Running;
}

QString NetworkPageLoad::text() const
{
    if (!isDone() || failed() || mode == LoadMode::HeadersOnly || mode == LoadMode::Bytes)
        return {};
    if (!decoded)
        decoded = decodeHtml(download->body(), download->contentType());
    return *decoded;
}

int NetworkPageLoad::httpStatus() const
{
    return download->status();
}

QString NetworkPageLoad::statusText() const
{
    return download->statusText();
}

QString NetworkPageLoad::failureReason() const
{
    return failed() ? download->failureReason() : QString();
}

QString NetworkPageLoad::finalAddress() const
{
    return download->finalAddress().toString(QUrl::FullyEncoded);
}

RedirectKind NetworkPageLoad::redirectKind() const
{
    return download->redirectKind();
}

QList<FoundLink> NetworkPageLoad::foundLinks() const
{
    if (mode != LoadMode::Page || !aside || !aside->isDone())
        return {};
    return aside->result().links;
}

std::optional<QStringList> NetworkPageLoad::anchors() const
{
    if (!aside || !aside->isDone() || !wantsAnchors())
        return std::nullopt;
    PageReading read = aside->result();
    if (!read.complete)
        return std::nullopt;
    return std::move(read.anchors);
}

QByteArray NetworkPageLoad::body() const
{
    if (!isDone() || mode != LoadMode::Bytes)
        return {};
    return download->body();
}

} // namespace skarnel
