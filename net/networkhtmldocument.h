#pragma once

#include <net/htmldocument.h>

#include <memory>

namespace skarnel {

class AsideReading;
class PageDownload;

// A page loaded by NetworkServices. Its links are read from the body once the download has
// ended; until then it has none. A page that ran out of time or reached the size cap is read as far
// as it arrived; a page that could not be loaded, or is not HTML, has no links.
//
// The body is read aside, on a worker thread, as soon as the download ends (see AsideReading).
// The document stays "loading" until the links are read, and turns "complete" in an event
// delivered on the thread that created it, as the contract in htmldocument.h asks.
class NetworkHtmlDocument final : public HtmlDocument
{
public:
    NetworkHtmlDocument(std::unique_ptr<PageDownload> pageDownload, PageReadOptions options);
    ~NetworkHtmlDocument() override;

    QString readyState() const override;
    QStringList links() const override;
    QList<FoundLink> foundLinks() const override;
    std::optional<QStringList> anchors() const override;
    QString finalAddress() const override;
    RedirectKind redirectKind() const override;

private:
    void readAside();

    std::unique_ptr<PageDownload> download;
    PageReadOptions options;
    std::unique_ptr<AsideReading> reading;
};

} // namespace skarnel
