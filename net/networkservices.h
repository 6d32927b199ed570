#pragma once

#include <net/fetchlimits.h>
#include <net/htmldocument.h>
#include <net/internettransfer.h>
#include <net/networkpolicy.h>

#include <memory>

namespace skarnel {

class HttpClient;

// The documents the walks read and the fetches the check judges, over HTTP and HTTPS, all through
// one HTTP client so that connections are kept alive from page to page and its limits per host
// hold for both. Every load and fetch is held to the same limits.
//
// Documents: only http and https addresses are loaded; any other address gives a document that is
// complete from the start, with no links, without network traffic. The page is read whatever its
// HTTP status; a body of another type than HTML is not downloaded.
//
// Fetches: any type of content is fetched, and its body is decoded like an HTML page's (byte order
// mark, charset of the Content-Type, <meta> charset, else UTF-8). A fetch fails when it cannot
// finish within the time limit; a body longer than the cap is cut there and the fetch finishes
// with its start.
//
// Documents and fetches may outlive the services.
class NetworkServices final : public HtmlDocumentService, public InternetTransfer
{
public:
    explicit NetworkServices(FetchLimits limits = {});
    // The same over `client`, whose connections and limits it shares with whoever else uses it.
    NetworkServices(std::shared_ptr<HttpClient> client, FetchLimits limits = {});
    ~NetworkServices() override;

    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) override;
    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address,
                                                        PageReadOptions options) override;
    std::unique_ptr<PageFetch> openUrl(const QString &address) override;
    std::unique_ptr<PageFetch> openUrl(const QString &address, FetchMode mode) override;

    // Both walks share the client: a run of either forgets the dead hosts for both.
    void startRun() override;
    // The credentials and the pace of the requests that start from now on.
    void setPolicy(NetworkPolicy policy);

    HttpClient &httpClient() const { return *client; }

private:
    std::shared_ptr<HttpClient> client;
    FetchLimits limits;
};

} // namespace skarnel
