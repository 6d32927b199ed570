#include "networkpagefetch.h"

#include <html/htmldecoding.h>
#include <net/pagedownload.h>

namespace skarnel {

NetworkPageFetch::NetworkPageFetch(std::unique_ptr<PageDownload> pageDownload)
    : download(std::move(pageDownload))
{
}

NetworkPageFetch::~NetworkPageFetch() = default;

bool NetworkPageFetch::isFinished() const
{
    return download->outcome() != PageDownload::Outcome::Running;
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
