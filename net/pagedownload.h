#pragma once

#include <net/fetchlimits.h>
#include <net/networkpolicy.h>
#include <net/pageload.h>

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <kinds/redirectkind.h>

#include <chrono>
#include <functional>
#include <memory>

using CURL = void;

namespace skarnel {

class HttpClient;

// One GET (or HEAD) of a page for the network services, kept within bounds whatever the server
// does. Redirects are followed here, not by libcurl, so that every request of the chain goes
// through the client's policy for its own host (its credentials, its pace, whether it is known
// dead): they are followed only to http and https, at most 20 of them. The whole chain ends
// within the time limit however slowly the bytes arrive; no more body than the cap is read, after
// decompression. The download advances, and its outcome changes, only in the event loop of the
// thread that created it. Destroying an unfinished download aborts it and closes its connection.
//
// A user name and password written in the address are sent as basic authentication to that
// address's origin alone (the client applies them through its policy), and are kept out of
// everything the download tells. A TLS failure's reason names the fault of the certificate. A 401
// after a redirect left the origin that receives the policy's credentials says that they were not
// sent there.
class PageDownload final : public QObject
{
    Q_OBJECT

public:
    enum class Retry {
        Never,
        // An answer of 429 or 503 that asks to be tried again within the client's retry cap is
        // asked once more after that wait, which does not count in the time limit.
        WhenAsked,
    };

    enum class Accept {
        AnyContent,
        // Stop as soon as the headers of the final answer name a Content-Type other than HTML; a
        // response without a Content-Type is read.
        HtmlOnly,
        // Ask with HEAD, or, when the server does not allow it (405, 501), once with a GET that
        // ends with the headers of the final answer: no body is read.
        HeadersOnly,
    };

    // How the download ended, as its load tells it.
    using Outcome = LoadOutcome;

    // Starts downloading `address`, used as given.
    PageDownload(std::shared_ptr<HttpClient> client, const QString &address,
                 const FetchLimits &limits, Accept accepted, Retry retry);
    ~PageDownload() override;

    // From now on the body of the final answer goes to `sink` piece by piece as it arrives, within
    // the cap, instead of into body(); `sink` returning false ends the download, Complete. It is
    // called in the event loop of the download's thread and must not destroy the download.
    void setBodySink(std::function<bool(QByteArrayView)> sink) { bodySink = std::move(sink); }

    Outcome outcome() const { return result; }
    // The body read so far (none when a sink takes it).
    const QByteArray &body() const { return received; }
    // The Content-Type of the response; empty while no headers have arrived and when there is none.
    const QByteArray &contentType() const { return type; }
    // The address of the response, after redirects, without user name and password.
    const QUrl &finalAddress() const { return location; }
    // What the first answer was; None until it has arrived.
    RedirectKind redirectKind() const { return firstAnswer; }
    // The status of the final answer and its reason phrase; 0 and empty when none arrived.
    int status() const { return statusCode; }
    const QString &statusText() const { return reasonPhrase; }
    // Why the download failed or ran out of time, in words a user reads; empty otherwise.
    const QString &failureReason() const { return failure; }

signals:
    // The outcome is no longer Running: emitted once, from the event that ended the download (a
    // download that fails at once, in the constructor, emits nothing).
    void ended();

private:
    enum class Method { Get, Head, GetHeaders };

    static size_t onHeader(char *data, size_t size, size_t count, void *download);
    static size_t onBody(char *data, size_t size, size_t count, void *download);

    // Asks for `location`, the next request of the chain.
    void begin();
    void started();
    size_t readHeader(QByteArrayView line);
    size_t readBody(QByteArrayView data);
    void transferEnded(int code);
    void followRedirect();
    bool retryIfAsked();
    void end(Outcome outcome, const QString &reason = {});
    QString failureOf(int code) const;
    // Whether a request to `address` carries the policy's credentials or the address's login.
    bool carriesCredentials(const QUrl &address) const;

    std::shared_ptr<HttpClient> client;
    CURL *easy = nullptr;
    FetchLimits limits;
    Retry retry = Retry::Never;
    Accept accept = Accept::AnyContent;
    Method method = Method::Get;
    Outcome result = Outcome::Running;
    QUrl location;
    QByteArray encodedAddress;
    QByteArray type;
    QByteArray received;
    // Where the body goes instead of `received`, and how much of it went there.
    std::function<bool(QByteArrayView)> bodySink;
    qint64 given = 0;
    int statusCode = 0;
    QString reasonPhrase;
    QString failure;
    RedirectKind firstAnswer = RedirectKind::None;
    int redirects = 0;

    // The basic authentication written in the address, for its origin only.
    AddressLogin login;
    // The first address asked for received the policy's credentials.
    bool startedWithCredentials = false;
    // libcurl's words for the latest failure.
    std::unique_ptr<char[]> errorBuffer;

    // What the headers of the latest answer said.
    QByteArray redirectLocation;
    bool askedToRetry = false;
    // The latest answer is a redirect to follow: its body is dropped.
    bool redirecting = false;
    qint64 droppedBody = 0;
    // Set by the callbacks when they stopped the transfer, and why.
    bool headersRead = false;
    bool capReached = false;
    bool notHtml = false;
    bool sinkEnded = false;

    bool retried = false;
    // Time spent in requests: waits for a turn or a retry do not count in the time limit.
    std::chrono::milliseconds spent {0};
    QElapsedTimer sinceRequest;
    QTimer retryWait;
};

} // namespace skarnel
