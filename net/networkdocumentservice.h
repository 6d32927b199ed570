#pragma once

#include <net/htmldocument.h>

#include <QtGlobal>

#include <chrono>
#include <memory>

namespace skarnel {

class HttpClient;

// Loads documents over HTTP and HTTPS, all through one HTTP client so that connections are
// kept alive from page to page. Only http and https addresses are loaded; any other address gives a
// document that is complete from the start, with no links, without network traffic. Every load ends
// within `loadLimit` and reads at most `bodyCap` bytes of body; the page is read whatever its HTTP
// status. Documents may outlive the service.
class NetworkDocumentService final : public HtmlDocumentService
{
public:
    explicit NetworkDocumentService(std::chrono::milliseconds loadLimit = std::chrono::seconds(60),
                                    qint64 bodyCap = 16 * 1024 * 1024);
    // The same over `client`, whose connections and limits it shares with whoever else uses it.
    NetworkDocumentService(std::shared_ptr<HttpClient> client, std::chrono::milliseconds loadLimit,
                           qint64 bodyCap);
    ~NetworkDocumentService() override;

    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) override;

private:
    std::shared_ptr<HttpClient> client;
    std::chrono::milliseconds loadLimit;
    qint64 bodyCap;
};

} // namespace skarnel
