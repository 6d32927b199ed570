#include "networkservices.h"

#include <net/httpclient.h>
#include <net/networkpageload.h>
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

void NetworkServices::setLeastPause(const QString &host, std::chrono::milliseconds pause)
{
    client->setLeastPause(host, pause);
}

std::unique_ptr<PageLoad> NetworkServices::load(const QString &address, const LoadRequest &request)
{
    const PageDownload::Accept accept =
            request.mode == LoadMode::Page          ? PageDownload::Accept::HtmlOnly
            : request.mode == LoadMode::HeadersOnly ? PageDownload::Accept::HeadersOnly
                                                    : PageDownload::Accept::AnyContent;
    // The crawl reads the links of whatever page comes back: a busy server's answer is not waited
    // out unless asked.
    const PageDownload::Retry retry = request.mode != LoadMode::Page || request.waitOutBusy
                                              ? PageDownload::Retry::WhenAsked
                                              : PageDownload::Retry::Never;
    FetchLimits bounds = limits;
    if (request.mode == LoadMode::Bytes && request.bodyCap > 0)
        bounds.bodyCap = request.bodyCap;
    if (request.mode == LoadMode::Bytes && request.redirectCap > 0)
        bounds.redirects = request.redirectCap;
    return std::make_unique<NetworkPageLoad>(
            std::make_unique<PageDownload>(client, address, bounds, accept, retry), request);
}

} // namespace skarnel
