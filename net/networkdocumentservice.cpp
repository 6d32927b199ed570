#include "networkdocumentservice.h"

#include <net/httpclient.h>
#include <net/networkhtmldocument.h>
#include <net/pagedownload.h>

namespace skarnel {

NetworkDocumentService::NetworkDocumentService(std::chrono::milliseconds limit, qint64 cap)
    : NetworkDocumentService(HttpClient::create(), limit, cap)
{
}

NetworkDocumentService::NetworkDocumentService(std::shared_ptr<HttpClient> sharedClient,
                                               std::chrono::milliseconds limit, qint64 cap)
    : client(std::move(sharedClient))
    , loadLimit(limit)
    , bodyCap(cap)
{
}

NetworkDocumentService::~NetworkDocumentService() = default;

std::unique_ptr<HtmlDocument> NetworkDocumentService::createDocumentFromUrl(const QString &address)
{
    // The crawl reads the links of whatever page comes back: a busy server's answer is not waited
    // out.
    return std::make_unique<NetworkHtmlDocument>(std::make_unique<PageDownload>(
            client, address, PageDownload::Limits {loadLimit, bodyCap, false},
            PageDownload::Accept::HtmlOnly));
}

} // namespace skarnel
