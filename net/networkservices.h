#pragma once

#include <net/fetchlimits.h>
#include <net/networkpolicy.h>
#include <net/pageload.h>

#include <memory>

namespace skarnel {

class HttpClient;

// The loads of the walks, over HTTP and HTTPS, all through one HTTP client so that connections are
// kept alive from page to page and its limits per host hold for every walk. Every load is held to
// the same limits. Only http and https addresses are loaded; any other address gives a load that
// fails at once, without network traffic. Loads may outlive the services.
class NetworkServices final : public PageLoader
{
public:
    explicit NetworkServices(FetchLimits limits = {});
    // The same over `client`, whose connections and limits it shares with whoever else uses it.
    NetworkServices(std::shared_ptr<HttpClient> client, FetchLimits limits = {});
    ~NetworkServices() override;

    std::unique_ptr<PageLoad> load(const QString &address, const LoadRequest &request) override;

    // Every walk shares the client: a run of any forgets the dead hosts for all.
    void startRun() override;
    // The credentials and the pace of the requests that start from now on.
    void setPolicy(NetworkPolicy policy);
    void setLeastPause(const QString &host, std::chrono::milliseconds pause) override;

    HttpClient &httpClient() const { return *client; }

private:
    std::shared_ptr<HttpClient> client;
    FetchLimits limits;
};

} // namespace skarnel
