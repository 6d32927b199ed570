#pragma once

#include "htmldocument.h"

#include <memory>
#include <optional>

class PageDownload;

// A page loaded by NetworkDocumentService. Its links are read from the body once the download has
// ended; until then it has none. A page that ran out of time or reached the size cap is read as far
// as it arrived; a page that could not be loaded, or is not HTML, has no links.
class NetworkHtmlDocument final : public HtmlDocument
{
public:
    explicit NetworkHtmlDocument(std::unique_ptr<PageDownload> pageDownload);
    ~NetworkHtmlDocument() override;

    QString readyState() const override;
    QStringList links() const override;

private:
    std::unique_ptr<PageDownload> download;
    // Read on first demand after the download has ended, as links() is const.
    mutable std::optional<QStringList> found;
};
