#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
using CURL = void;
using CURLM = void;

namespace skarnel {

// One libcurl multi handle, driven from the event loop of the thread that created it: socket
// notifiers and one timer tell it when to advance, so that it waits on nothing and blocks nothing.
// The transfers added to it share its connections, kept alive from page to page, and its limits:
// at most `perHost` connections to a host and `total` in all; transfers beyond them wait their
// turn. Name lookups run on libcurl's own resolver threads.
class HttpClient final : public QObject, public std::enable_shared_from_this<HttpClient>
{
    Q_OBJECT

public:
    struct Options
    {
        long perHost = 4;
        long total = 16;
        // Hosts that are taken not to resolve, without asking the machine's resolver: tests and
        // the benchmark use it to stand for a dead host.
        std::function<bool(const QString &host)> unresolvable;
    };

    // Told right before a transfer goes out, when its last options may be set.
    using Started = std::function<void()>;
    // Told when a transfer added to the client has ended, with libcurl's result code.
    using Done = std::function<void(int result)>;

    static std::shared_ptr<HttpClient> create(Options options);
    static std::shared_ptr<HttpClient> create() { return create(Options {}); }
    ~HttpClient() override;

    // Starts `easy`, already set up to ask for `address`: `started` is called right before it goes
    // out, `done` once it ends, from the event loop. The client does not own the handle.
    void start(CURL *easy, const QUrl &address, Started started, Done done);
    // Stops `easy` if it is running; its connection is closed unless it had ended. `done` is not
    // called for it after this.
    void stop(CURL *easy);

    const Options &options() const { return settings; }

private:
    explicit HttpClient(Options options);

    struct Watch;

    static int onSocket(CURL *easy, int socket, int what, void *client, void *socketData);
    static int onTimer(CURLM *multi, long timeoutMs, void *client);

    void watch(int socket, int what);
    void act(int socket, int events);
    void finishEnded();

    CURLM *multi = nullptr;
    Options settings;
    QTimer timer;
    QHash<int, std::shared_ptr<Watch>> watches;
    // Notifiers of sockets libcurl no longer watches, deleted when the client is next entered:
    // one of them may be the notifier whose signal is running.
    std::vector<std::shared_ptr<Watch>> retired;
    QHash<CURL *, Done> running;
};

} // namespace skarnel
