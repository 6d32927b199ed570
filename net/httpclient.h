#pragma once

#include <net/networkpolicy.h>

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;
using CURL = void;
using CURLM = void;
struct curl_slist;

namespace skarnel {

// One libcurl multi handle, driven from the event loop of the thread that created it: socket
// notifiers and timers tell it when to advance, so that it waits on nothing and blocks nothing.
// The transfers added to it share its connections, kept alive from page to page, and its limits:
// at most the policy's `perHost` connections to a host, and the larger of that and `total` in
// all, set anew with each policy. Name lookups run on libcurl's own resolver threads.
//
// The client keeps the pace of its policy with every host: a request waits its turn while its host
// has `perHost` requests in flight (requests, not connections, which HTTP/2 shares) or started one
// less than `pause` ago. It is the one place that puts secrets on a request: what the policy
// gives for the request's address (NetworkPolicy::credentialsFor), with the Cookie header written
// by the client itself (libcurl's cookie engine is never used). It verifies every certificate
// against the system's authorities and the policy's CA file, but for the policy's insecure origin.
//
// It asks each host name once: the first request to a host not yet looked up goes alone, the
// others wait for it, and at most four new hosts are looked up at once. A host whose lookup failed,
// and a host and port that refused a connection, are dead until the next run: requests to them
// fail at once, through the event loop, with the same result, without any traffic.
class HttpClient final : public QObject, public std::enable_shared_from_this<HttpClient>
{
    Q_OBJECT

public:
    struct Options
    {
        // Connections in all at most, unless the policy's requests to one host are more.
        long total = 16;
        // Hosts that are taken not to resolve, without asking the machine's resolver: tests and
        // the benchmark use it to stand for a dead host.
        std::function<bool(const QString &host)> unresolvable;
        // Told of every name lookup libcurl starts, with the host it looks up.
        std::function<void(const QString &host)> lookedUp;
    };

    // Told right before a transfer goes out, when its last options may be set.
    using Started = std::function<void()>;
    // Told when a transfer added to the client has ended, with libcurl's result code.
    using Done = std::function<void(int result)>;

    static std::shared_ptr<HttpClient> create(Options options);
    static std::shared_ptr<HttpClient> create() { return create(Options {}); }
    ~HttpClient() override;

    // Starts `easy`, already set up to ask for `address`, when its host's turn comes: `started` is
    // called right before it goes out, `done` once it ends, from the event loop. `login`, written
    // in the address the download began with, goes to its own origin alone. The client does not
    // own the handle.
    void start(CURL *easy, const QUrl &address, Started started, Done done,
               const AddressLogin &login = {});
    // Stops `easy` if it is waiting or running; its connection is closed unless it had ended.
    // `done` is not called for it after this.
    void stop(CURL *easy);

    const Options &options() const { return settings; }
    const NetworkPolicy &policy() const { return rules; }
    // Applies to the requests that start from now on.
    void setPolicy(NetworkPolicy policy);
    // A new run begins: the hosts and ports found dead are asked again.
    void startRun();
    // Requests to `host` start at least `pause` apart from now on, when the policy's pause is less;
    // zero: the policy's pause alone.
    void setLeastPause(const QString &host, std::chrono::milliseconds pause);

private:
    explicit HttpClient(Options options);

    struct Watch;
    struct Request;
    struct Host;
    struct Authorities;

    static int onSocket(CURL *easy, int socket, int what, void *client, void *socketData);
    static int onTimer(CURLM *multi, long timeoutMs, void *client);
    static int onResolverStart(void *, void *, void *request);
    static int onSslContext(CURL *, void *context, void *authorities);

    void setConnectionLimits();
    void watch(int socket, int what);
    void act(int socket, int events);
    void finishEnded();
    void pump();
    void launch(Request &request, Host &host);
    void failWaiting();
    void ended(Request &request, int &result);

    CURLM *multi = nullptr;
    Options settings;
    NetworkPolicy rules;
    // The request headers: for every host, and for the policy's origin.
    std::shared_ptr<curl_slist> plainHeaders;
    std::shared_ptr<curl_slist> credentialHeaders;
    QByteArray userAgent;
    // The certificates of the policy's CA file; null when it names none.
    std::shared_ptr<Authorities> authorities;
    QTimer timer;
    QHash<int, std::shared_ptr<Watch>> watches;
    // Notifiers of sockets libcurl no longer watches, deleted when the client is next entered:
    // one of them may be the notifier whose signal is running.
    std::vector<std::shared_ptr<Watch>> retired;

    QHash<CURL *, std::shared_ptr<Request>> requests;
    // Requests waiting their turn, oldest first, and those that fail without going out.
    QList<CURL *> waiting;
    QList<CURL *> failing;
    QHash<QString, Host> hosts;
    // The least pauses set for hosts, beyond the policy's.
    QHash<QString, std::chrono::milliseconds> leastPauses;
    // "host:port" of those that refused a connection, with the result they gave.
    QHash<QString, int> refusing;
    int lookingUp = 0;
    bool pumping = false;
    bool pumpAgain = false;
    // Wakes the queue when a host's pause is over; fails the requests to dead hosts.
    QTimer paceTimer;
    QTimer failTimer;
};

} // namespace skarnel
