#include "networktransfer.h"

#include <net/httpclient.h>
#include <net/networkpagefetch.h>
#include <net/pagedownload.h>

namespace skarnel {

NetworkTransfer::NetworkTransfer(std::chrono::milliseconds limit, qint64 cap)
    : NetworkTransfer(HttpClient::create(), limit, cap)
{
}

NetworkTransfer::NetworkTransfer(std::shared_ptr<HttpClient> sharedClient,
                                 std::chrono::milliseconds limit, qint64 cap)
    : client(std::move(sharedClient))
    , timeLimit(limit)
    , bodyCap(cap)
{
}

NetworkTransfer::~NetworkTransfer() = default;

std::unique_ptr<PageFetch> NetworkTransfer::openUrl(const QString &address)
{
    return std::make_unique<NetworkPageFetch>(std::make_unique<PageDownload>(
            client, address, PageDownload::Limits {timeLimit, bodyCap, true},
            PageDownload::Accept::AnyContent));
}

} // namespace skarnel
