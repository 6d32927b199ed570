#include "httpclient.h"

#include <QFile>
#include <QSocketNotifier>

#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <mutex>

namespace skarnel {

// The read and write notifiers of one socket libcurl watches.
struct HttpClient::Watch
{
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

struct HttpClient::Request
{
    enum class State { Waiting, Running, Failing };

    HttpClient *client = nullptr;
    CURL *easy = nullptr;
    QUrl address;
    QString host;
    QString origin;
    AddressLogin login;
    Started started;
    Done done;
    State state = State::Waiting;
    // The first request to its host, which looks the host up.
    bool lookingUp = false;
    // Our own seam refused to look its host up.
    bool unresolved = false;
    // The result it fails with when it fails without going out.
    int failure = 0;
    // The header list it was given and the authorities it trusts, kept while libcurl may read
    // them.
    std::shared_ptr<curl_slist> headers;
    std::shared_ptr<Authorities> authorities;
};

// The certificates of a CA file, added to the store of every TLS connection.
struct HttpClient::Authorities
{
    std::vector<X509 *> certificates;

    explicit Authorities(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QByteArray pem = file.readAll();
        BIO *bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
        while (X509 *certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr))
            certificates.push_back(certificate);
        BIO_free(bio);
    }
    ~Authorities()
    {
        for (X509 *certificate : certificates)
            X509_free(certificate);
    }
    Authorities(const Authorities &) = delete;
    Authorities &operator=(const Authorities &) = delete;
};

struct HttpClient::Host
{
    enum class Lookup { New, Pending, Known, Dead };

    Lookup lookup = Lookup::New;
    // The result of the lookup that found it dead.
    int failure = 0;
    int inFlight = 0;
    std::optional<std::chrono::steady_clock::time_point> lastStart;
};

namespace {

// New hosts looked up at once, at most: a page that links to many dead hosts does not hold every
// resolver thread.
constexpr int MostLookups = 4;

void initialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::shared_ptr<curl_slist> headerList(const QList<QByteArray> &extra,
                                       const QByteArray &cookie = {})
{
    curl_slist *list = nullptr;
    const bool ownAccept = std::any_of(extra.begin(), extra.end(), [](const QByteArray &header) {
        return header.trimmed().toLower().startsWith("accept:");
    });
    if (!ownAccept)
        list = curl_slist_append(list, "Accept: text/html,application/xhtml+xml,*/*;q=0.8");
    for (const QByteArray &header : extra) {
        // libcurl takes "Name:" with nothing after it to mean: leave the header out. Given so, it
        // is sent empty, which libcurl writes "Name;".
        const qsizetype colon = header.indexOf(':');
        const QByteArray line = header.sliced(colon + 1).trimmed().isEmpty()
                                        ? header.first(colon).trimmed() + ';'
                                        : header;
        list = curl_slist_append(list, line.constData());
    }
    if (!cookie.isEmpty())
        list = curl_slist_append(list, QByteArray("Cookie: " + cookie).constData());
    return std::shared_ptr<curl_slist>(list, curl_slist_free_all);
}

QString originOf(const QUrl &address)
{
    return address.host() + u':'
           + QString::number(address.port(address.scheme() == u"https" ? 443 : 80));
}

} // namespace

std::shared_ptr<HttpClient> HttpClient::create(Options options)
{
    return std::shared_ptr<HttpClient>(new HttpClient(std::move(options)));
}

HttpClient::HttpClient(Options options)
    : settings(std::move(options))
    , plainHeaders(headerList({}))
    , credentialHeaders(plainHeaders)
    , userAgent(rules.userAgentHeader())
{
    initialiseCurl();
    multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &HttpClient::onSocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &HttpClient::onTimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    setConnectionLimits();

    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    paceTimer.setSingleShot(true);
    paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&paceTimer, &QTimer::timeout, this, [this] {
        const std::shared_ptr<HttpClient> keep = shared_from_this();
        pump();
    });
    failTimer.setSingleShot(true);
    connect(&failTimer, &QTimer::timeout, this, [this] { failWaiting(); });
}

HttpClient::~HttpClient()
{
    for (const std::shared_ptr<Request> &request : std::as_const(requests))
        if (request->state == Request::State::Running)
            curl_multi_remove_handle(multi, request->easy);
    requests.clear();
    // Closing the idle connections calls back into watch(); the notifiers go after.
    curl_multi_cleanup(multi);
    watches.clear();
    retired.clear();
}

void HttpClient::setPolicy(NetworkPolicy policy)
{
    rules = std::move(policy);
    rules.perHost = std::max(1, rules.perHost);
    credentialHeaders = rules.headers.isEmpty() ? plainHeaders : headerList(rules.headers);
    userAgent = rules.userAgentHeader();
    authorities = rules.caFile.isEmpty() ? nullptr : std::make_shared<Authorities>(rules.caFile);
    setConnectionLimits();
    pump();
}

// libcurl holds a request back while its host has as many connections as allowed: the caps follow
// the policy, or a host would never get more requests at once than the client began with.
void HttpClient::setConnectionLimits()
{
    const long perHost = std::max(1, rules.perHost);
    const long total = std::max(settings.total, perHost);
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, perHost);
    curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, total);
    // Idle connections kept for the next pages: a walk goes back to the same few hosts.
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 2 * total);
}

void HttpClient::setLeastPause(const QString &host, std::chrono::milliseconds pause)
{
    if (pause.count() > 0)
        leastPauses.insert(host, pause);
    else
        leastPauses.remove(host);
}

void HttpClient::startRun()
{
    for (Host &host : hosts)
        if (host.lookup == Host::Lookup::Dead)
            host = Host {};
    refusing.clear();
}

void HttpClient::start(CURL *easy, const QUrl &address, Started started, Done done,
                       const AddressLogin &login)
{
    auto request = std::make_shared<Request>();
    request->client = this;
    request->easy = easy;
    request->address = address;
    request->login = login;
    request->host = address.host();
    request->origin = originOf(address);
    request->started = std::move(started);
    request->done = std::move(done);
    requests.insert(easy, std::move(request));
    waiting.append(easy);
    pump();
}

void HttpClient::stop(CURL *easy)
{
    const std::shared_ptr<Request> request = requests.take(easy);
    if (!request)
        return;
    switch (request->state) {
    case Request::State::Waiting:
        waiting.removeOne(easy);
        return;
    case Request::State::Failing:
        failing.removeOne(easy);
        return;
    case Request::State::Running:
        curl_multi_remove_handle(multi, easy);
        break;
    }
    Host &host = hosts[request->host];
    --host.inFlight;
    if (request->lookingUp) {
        // Nothing was learnt of the host: the next request looks it up.
        --lookingUp;
        host.lookup = Host::Lookup::New;
    }
    pump();
}

// Starts every waiting request whose host allows it, oldest first, and fails those to a dead host.
// Re-entered from a request's `started`, it goes round once more instead.
void HttpClient::pump()
{
    if (pumping) {
        pumpAgain = true;
        return;
    }
    pumping = true;
    std::optional<std::chrono::steady_clock::time_point> wake;
    do {
        pumpAgain = false;
        wake.reset();
        const auto now = std::chrono::steady_clock::now();
        for (qsizetype i = 0; i < waiting.size();) {
            Request &request = *requests.value(waiting[i]);
            Host &host = hosts[request.host];
            const int refused = refusing.value(request.origin, 0);
            if (host.lookup == Host::Lookup::Dead || refused != 0) {
                request.failure = refused != 0 ? refused : host.failure;
                request.state = Request::State::Failing;
                failing.append(waiting.takeAt(i));
                failTimer.start(0);
                continue;
            }
            const bool mayStart = [&] {
                if (host.lookup == Host::Lookup::Pending || host.inFlight >= rules.perHost)
                    return false;
                if (host.lookup == Host::Lookup::New && lookingUp >= MostLookups)
                    return false;
                const auto pause = std::max<std::chrono::milliseconds>(
                        rules.pause, leastPauses.value(request.host));
                if (host.lastStart && now < *host.lastStart + pause) {
                    const auto due = *host.lastStart + pause;
                    wake = wake ? std::min(*wake, due) : due;
                    return false;
                }
                return true;
            }();
            if (!mayStart) {
                ++i;
                continue;
            }
            waiting.removeAt(i);
            launch(request, host);
        }
    } while (pumpAgain);
    pumping = false;
    if (wake) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *wake - std::chrono::steady_clock::now());
        paceTimer.start(std::max<int>(1, int(left.count())));
    }
}

void HttpClient::launch(Request &request, Host &host)
{
    request.state = Request::State::Running;
    if (host.lookup == Host::Lookup::New) {
        host.lookup = Host::Lookup::Pending;
        request.lookingUp = true;
        ++lookingUp;
    }
    ++host.inFlight;
    host.lastStart = std::chrono::steady_clock::now();

    CURL *easy = request.easy;
    const RequestCredentials credentials = rules.credentialsFor(request.address, request.login);
    const std::shared_ptr<curl_slist> &base =
            credentials.headers ? credentialHeaders : plainHeaders;
    request.headers =
            credentials.cookie.isEmpty()
                    ? base
                    : headerList(credentials.headers ? rules.headers : QList<QByteArray>(),
                                 credentials.cookie);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.headers.get());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.constData());
    if (credentials.basic()) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(easy, CURLOPT_USERNAME, credentials.user.toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, credentials.password.toUtf8().constData());
    } else {
        curl_easy_setopt(easy, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(easy, CURLOPT_PASSWORD, nullptr);
    }
    const bool verify = rules.verifies(request.address);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    request.authorities = authorities;
    if (authorities) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &HttpClient::onSslContext);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, authorities.get());
        // A cached store is shared by the connections that follow: it is not added to.
        curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    } else {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, nullptr);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, nullptr);
        curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 24L * 3600);
    }
    if (settings.unresolvable || settings.lookedUp) {
        curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &HttpClient::onResolverStart);
        curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, &request);
    }
    request.started();
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        // It fails through the event loop, as a request to a dead host does, not never.
        --host.inFlight;
        if (request.lookingUp) {
            request.lookingUp = false;
            --lookingUp;
            host.lookup = Host::Lookup::New;
        }
        request.state = Request::State::Failing;
        request.failure = CURLE_FAILED_INIT;
        failing.append(easy);
        failTimer.start(0);
    }
}

// Right after libcurl has loaded the system's authorities into a new connection's store.
int HttpClient::onSslContext(CURL *, void *context, void *data)
{
    X509_STORE *store = SSL_CTX_get_cert_store(static_cast<SSL_CTX *>(context));
    for (X509 *certificate : static_cast<Authorities *>(data)->certificates)
        X509_STORE_add_cert(store, certificate);
    return CURLE_OK;
}

int HttpClient::onResolverStart(void *, void *, void *data)
{
    auto &request = *static_cast<Request *>(data);
    const Options &options = request.client->settings;
    if (options.lookedUp)
        options.lookedUp(request.host);
    request.unresolved = options.unresolvable && options.unresolvable(request.host);
    return request.unresolved ? 1 : 0;
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
        int result = message->data.result;
        const std::shared_ptr<Request> request = requests.take(easy);
        if (!request)
            continue;
        curl_multi_remove_handle(multi, easy);
        ended(*request, result);
        // The callback may start transfers or stop others, which takes their messages away.
        request->done(result);
    }
    pump();
}

// What a request that went out tells of its host.
void HttpClient::ended(Request &request, int &result)
{
    if (request.unresolved)
        result = CURLE_COULDNT_RESOLVE_HOST;
    Host &host = hosts[request.host];
    --host.inFlight;
    if (request.lookingUp) {
        --lookingUp;
        host.lookup = Host::Lookup::Known;
    }
    if (result == CURLE_COULDNT_RESOLVE_HOST) {
        host.lookup = Host::Lookup::Dead;
        host.failure = result;
    } else if (result == CURLE_COULDNT_CONNECT) {
        refusing.insert(request.origin, result);
    }
}

void HttpClient::failWaiting()
{
    const std::shared_ptr<HttpClient> keep = shared_from_this();
    // A callback may stop other failing requests, which takes them off the list.
    while (!failing.isEmpty()) {
        const std::shared_ptr<Request> request = requests.take(failing.takeFirst());
        if (request)
            request->done(request->failure);
    }
}

} // namespace skarnel
