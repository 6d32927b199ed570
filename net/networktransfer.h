#pragma once

#include <net/internettransfer.h>

#include <QtGlobal>

#include <chrono>
#include <memory>

namespace skarnel {

class HttpClient;

// Fetches the raw text of pages over HTTP and HTTPS, all through one HTTP client so that
// connections are kept alive from page to page. Any type of content is fetched, and its body is
// decoded like an HTML page's (byte order mark, charset of the Content-Type, <meta> charset, else
// UTF-8). A fetch fails when it cannot finish within `timeLimit`; a body longer than `bodyCap` is
// cut there and the fetch finishes with its start. Fetches may outlive the transfer.
class NetworkTransfer final : public InternetTransfer
{
public:
    explicit NetworkTransfer(std::chrono::milliseconds timeLimit = std::chrono::seconds(60),
                             qint64 bodyCap = 16 * 1024 * 1024);
    // The same over `client`, whose connections and limits it shares with whoever else uses it.
    NetworkTransfer(std::shared_ptr<HttpClient> client, std::chrono::milliseconds timeLimit,
                    qint64 bodyCap);
    ~NetworkTransfer() override;

    std::unique_ptr<PageFetch> openUrl(const QString &address) override;

private:
    std::shared_ptr<HttpClient> client;
    std::chrono::milliseconds timeLimit;
    qint64 bodyCap;
};

} // namespace skarnel
