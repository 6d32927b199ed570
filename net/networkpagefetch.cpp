#include "networkpagefetch.h"

#include <html/htmldecoding.h>
#include <net/asidereading.h>
#include <net/pagedownload.h>

namespace skarnel {

NetworkPageFetch::NetworkPageFetch(std::unique_ptr<PageDownload> pageDownload, bool readAnchors)
    : download(std::move(pageDownload))
{
    if (!readAnchors || download->outcome() != PageDownload::Outcome::Running)
        return;
    anchorReading = std::make_unique<AsideReading>();
    // The download is the connection's context: it goes with the fetch.
    QObject::connect(download.get(), &PageDownload::ended, download.get(),
                     [this] { readAnchorsAside(); });
}

NetworkPageFetch::~NetworkPageFetch() = default;

// Only a whole page that answered 2xx with HTML has anchors worth reading: a page cut short by its
// limits would be read as far as it arrived, and its anchors guessed.
void NetworkPageFetch::readAnchorsAside()
{
    const int status = download->status();
    if (download->outcome() != PageDownload::Outcome::Complete || status < 200 || status > 299
        || !isHtmlContentType(download->contentType())) {
        anchorReading.reset();
        return;
    }
    anchorReading->start(*download, {.resources = false, .anchors = true});
}

bool NetworkPageFetch::isFinished() const
{
    if (download->outcome() == PageDownload::Outcome::Running)
        return false;
    return !anchorReading || anchorReading->isDone();
}

std::optional<QStringList> NetworkPageFetch::anchors() const
{
    if (!anchorReading || !anchorReading->isDone())
        return std::nullopt;
    const PageReading read = anchorReading->result();
    if (!read.complete)
        return std::nullopt;
    return read.anchors;
}

bool NetworkPageFetch::failed() const
{
    switch (download->outcome()) {
    case PageDownload::Outcome::Running:
    case PageDownload::Outcome::Complete:
    case PageDownload::Outcome::Capped:
        return false;
    case PageDownload::Outcome::TimedOut:
    case PageDownload::Outcome::NotHtml:
    case PageDownload::Outcome::Failed:
        return true;
    }
    return true;
}

QString NetworkPageFetch::text() const
{
    if (!isFinished() || failed())
        return {};
    if (!decoded)
        decoded = decodeHtml(download->body(), download->contentType());
    return *decoded;
}

int NetworkPageFetch::httpStatus() const
{
    return download->status();
}

QString NetworkPageFetch::statusText() const
{
    return download->statusText();
}

QString NetworkPageFetch::failureReason() const
{
    return failed() ? download->failureReason() : QString();
}

QString NetworkPageFetch::finalAddress() const
{
    return download->finalAddress().toString(QUrl::FullyEncoded);
}

RedirectKind NetworkPageFetch::redirectKind() const
{
    return download->redirectKind();
}

} // namespace skarnel
