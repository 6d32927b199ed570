#include "networkservices.h"

#include <net/httpclient.h>
#include <net/networkhtmldocument.h>
#include <net/networkpagefetch.h>
#include <net/pagedownload.h>

namespace skarnel {

NetworkServices::NetworkServices(FetchLimits fetchLimits)
    : NetworkServices(HttpClient::create(), fetchLimits)
{
}

NetworkServices::NetworkServices(std::shared_ptr<HttpClient> sharedClient, FetchLimits fetchLimits)
    : client(std::move(sharedClient))
    , limits(fetchLimits)
{
}

NetworkServices::~NetworkServices() = default;

void NetworkServices::startRun()
{
    client->startRun();
}

void NetworkServices::setPolicy(NetworkPolicy policy)
{
    client->setPolicy(std::move(policy));
}

std::unique_ptr<HtmlDocument> NetworkServices::createDocumentFromUrl(const QString &address)
{
    return createDocumentFromUrl(address, PageReadOptions {});
}

std::unique_ptr<HtmlDocument> NetworkServices::createDocumentFromUrl(const QString &address,
                                                                     PageReadOptions options)
{
    // The crawl reads the links of whatever page comes back: a busy server's answer is not waited
    // out.
    return std::make_unique<NetworkHtmlDocument>(
            std::make_unique<PageDownload>(client, address, limits, PageDownload::Accept::HtmlOnly,
                                           PageDownload::Retry::Never),
            options);
}

std::unique_ptr<PageFetch> NetworkServices::openUrl(const QString &address)
{
    return openUrl(address, FetchMode::Text);
}

std::unique_ptr<PageFetch> NetworkServices::openUrl(const QString &address, FetchMode mode)
{
    return std::make_unique<NetworkPageFetch>(
            std::make_unique<PageDownload>(client, address, limits,
                                           mode == FetchMode::HeadersOnly
                                                   ? PageDownload::Accept::HeadersOnly
                                                   : PageDownload::Accept::AnyContent,
                                           PageDownload::Retry::WhenAsked),
            mode == FetchMode::TextAndAnchors);
}

} // namespace skarnel
