#include "httpclient.h"

#include <QSocketNotifier>

#include <curl/curl.h>

#include <mutex>

namespace skarnel {

// The read and write notifiers of one socket libcurl watches.
struct HttpClient::Watch
{
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

namespace {

void initialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

std::shared_ptr<HttpClient> HttpClient::create(Options options)
{
    return std::shared_ptr<HttpClient>(new HttpClient(std::move(options)));
}

HttpClient::HttpClient(Options options)
    : settings(std::move(options))
{
    initialiseCurl();
    multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &HttpClient::onSocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &HttpClient::onTimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, settings.perHost);
    curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, settings.total);
    // Idle connections kept for the next pages: a walk goes back to the same few hosts.
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 2 * settings.total);

    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

HttpClient::~HttpClient()
{
    for (auto it = running.cbegin(); it != running.cend(); ++it)
        curl_multi_remove_handle(multi, it.key());
    running.clear();
    // Closing the idle connections calls back into watch(); the notifiers go after.
    curl_multi_cleanup(multi);
    watches.clear();
    retired.clear();
}

void HttpClient::start(CURL *easy, const QUrl &, Started started, Done done)
{
    started();
    running.insert(easy, std::move(done));
    curl_multi_add_handle(multi, easy);
}

void HttpClient::stop(CURL *easy)
{
    if (running.remove(easy) > 0)
        curl_multi_remove_handle(multi, easy);
}

int HttpClient::onSocket(CURL *, int socket, int what, void *client, void *)
{
    static_cast<HttpClient *>(client)->watch(socket, what);
    return 0;
}

int HttpClient::onTimer(CURLM *, long timeoutMs, void *client)
{
    auto &self = *static_cast<HttpClient *>(client);
    // libcurl may not be called back from here: a timeout of 0 acts at the next turn of the loop.
    if (timeoutMs < 0)
        self.timer.stop();
    else
        self.timer.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void HttpClient::watch(int socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        if (const std::shared_ptr<Watch> gone = watches.take(socket)) {
            for (QSocketNotifier *notifier : {gone->read.get(), gone->write.get()})
                if (notifier)
                    notifier->setEnabled(false);
            retired.push_back(gone);
        }
        return;
    }
    std::shared_ptr<Watch> &w = watches[socket];
    if (!w)
        w = std::make_shared<Watch>();
    const auto enable = [&](std::unique_ptr<QSocketNotifier> &notifier, QSocketNotifier::Type type,
                            bool wanted, int events) {
        if (!notifier && wanted) {
            notifier = std::make_unique<QSocketNotifier>(socket, type);
            connect(notifier.get(), &QSocketNotifier::activated, this,
                    [this, socket, events] { act(socket, events); });
        }
        if (notifier)
            notifier->setEnabled(wanted);
    };
    enable(w->read, QSocketNotifier::Read, what == CURL_POLL_IN || what == CURL_POLL_INOUT,
           CURL_CSELECT_IN);
    enable(w->write, QSocketNotifier::Write, what == CURL_POLL_OUT || what == CURL_POLL_INOUT,
           CURL_CSELECT_OUT);
}

void HttpClient::act(int socket, int events)
{
    // The client may go with the last transfer that a done callback destroys.
    const std::shared_ptr<HttpClient> keep = shared_from_this();
    retired.clear();
    int stillRunning = 0;
    curl_multi_socket_action(multi, socket, events, &stillRunning);
    finishEnded();
}

void HttpClient::finishEnded()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *easy = message->easy_handle;
        const CURLcode result = message->data.result;
        const auto found = running.find(easy);
        if (found == running.end())
            continue;
        const Done done = std::move(*found);
        running.erase(found);
        curl_multi_remove_handle(multi, easy);
        // The callback may start transfers or stop others, which takes their messages away.
        done(result);
    }
}

} // namespace skarnel
