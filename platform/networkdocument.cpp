#include "networkdocument.h"

#include "networkhtmldocument.h"
#include "pagedownload.h"

#include <QNetworkAccessManager>

NetworkDocumentService::NetworkDocumentService(std::chrono::milliseconds limit, qint64 cap)
    : manager(PageDownload::createManager())
    , loadLimit(limit)
    , bodyCap(cap)
{
}

NetworkDocumentService::~NetworkDocumentService() = default;

std::unique_ptr<HtmlDocument> NetworkDocumentService::createDocumentFromUrl(const QString &address)
{
    return std::make_unique<NetworkHtmlDocument>(std::make_unique<PageDownload>(
            manager, address, PageDownload::Limits {loadLimit, bodyCap},
            PageDownload::Accept::HtmlOnly));
}
