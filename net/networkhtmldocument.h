#pragma once

#include <net/htmldocument.h>

#include <memory>

class QObject;

namespace skarnel {

class PageDownload;

// A page loaded by NetworkServices. Its links are read from the body once the download has
// ended; until then it has none. A page that ran out of time or reached the size cap is read as far
// as it arrived; a page that could not be loaded, or is not HTML, has no links.
//
// The body is parsed on a worker thread as soon as the download ends, so that the window goes on
// while a page is read (a large page takes a second, a hostile one up to the parse budget) and the
// pages loaded ahead are read while the crawl works on the current one. Pages are parsed on as many
// threads as there are cores, and a document destroyed before its page is read has it skipped, or
// stopped soon. The document stays "loading" until the links are read, and turns "complete" in an
// event delivered on the thread that created it, as the contract in htmldocument.h asks.
class NetworkHtmlDocument final : public HtmlDocument
{
public:
    explicit NetworkHtmlDocument(std::unique_ptr<PageDownload> pageDownload);
    ~NetworkHtmlDocument() override;

    QString readyState() const override;
    QStringList links() const override;
    QString finalAddress() const override;
    RedirectKind redirectKind() const override;

private:
    struct Reading;

    void readLinksAside();

    std::unique_ptr<PageDownload> download;
    // Shared with the worker that reads the links; it outlives the document when need be.
    std::shared_ptr<Reading> reading;
    // Receives the event that says the links are read; set the document complete.
    std::unique_ptr<QObject> receiver;
    bool linksRead = false;
};

} // namespace skarnel
