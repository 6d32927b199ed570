#include "networktransfer.h"

#include "networkpagefetch.h"
#include "pagedownload.h"

#include <QNetworkAccessManager>

NetworkTransfer::NetworkTransfer(std::chrono::milliseconds limit, qint64 cap)
    : manager(PageDownload::createManager())
    , timeLimit(limit)
    , bodyCap(cap)
{
}

NetworkTransfer::~NetworkTransfer() = default;

std::unique_ptr<PageFetch> NetworkTransfer::openUrl(const QString &address)
{
    return std::make_unique<NetworkPageFetch>(std::make_unique<PageDownload>(
            manager, address, PageDownload::Limits {timeLimit, bodyCap},
            PageDownload::Accept::AnyContent));
}
