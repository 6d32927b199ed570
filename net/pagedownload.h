#pragma once

#include <net/fetchlimits.h>

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>

using CURL = void;

namespace skarnel {

class HttpClient;

// One GET of a page for the document service and the transfer, kept within bounds whatever the
// server does: redirects are followed only to http and https, at most 20 of them; the whole
// download ends within its time limit however slowly the bytes arrive; no more body than the cap
// is read, after decompression. The download advances, and its outcome changes, only in the event
// loop of the thread that created it. Destroying an unfinished download aborts it and closes its
// connection.
class PageDownload final : public QObject
{
    Q_OBJECT

public:
    enum class Retry {
        Never,
        // An answer of 429 or 503 that asks to be tried again within 10 s is asked once more after
        // that wait, if the time limit allows.
        WhenAsked,
    };

    enum class Accept {
        AnyContent,
        // Stop as soon as the headers name a Content-Type other than HTML; a response without a
        // Content-Type is read.
        HtmlOnly,
    };

    enum class Outcome {
        Running,
        // The whole body was read, whatever the HTTP status.
        Complete,
        // The body reached the cap: its first `bodyCap` bytes were read.
        Capped,
        // The time limit ran out: body() holds what had arrived.
        TimedOut,
        // HtmlOnly, and the response was of another type: its body was not read.
        NotHtml,
        // No complete response: an empty or malformed address or another scheme than http and
        // https (ended at once, without network traffic), an unknown host, a refused or broken
        // connection, a redirect to another scheme, too many redirects, a TLS failure.
        Failed,
    };

    // Starts downloading `address`, used as given.
    PageDownload(std::shared_ptr<HttpClient> client, const QString &address,
                 const FetchLimits &limits, Accept accepted, Retry retry);
    ~PageDownload() override;

    Outcome outcome() const { return result; }
    // The body read so far.
    const QByteArray &body() const { return received; }
    // The Content-Type of the response; empty while no headers have arrived and when there is none.
    const QByteArray &contentType() const { return type; }
    // The address of the response, after redirects.
    const QUrl &finalAddress() const { return location; }
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
    static size_t onHeader(char *data, size_t size, size_t count, void *download);
    static size_t onBody(char *data, size_t size, size_t count, void *download);
    static int onResolverStart(void *, void *, void *download);

    void begin(std::chrono::milliseconds timeLeft);
    size_t readHeader(QByteArrayView line);
    size_t readBody(QByteArrayView data);
    void transferEnded(int code);
    bool retryIfAsked();
    void end(Outcome outcome, const QString &reason = {});

    std::shared_ptr<HttpClient> client;
    CURL *easy = nullptr;
    FetchLimits limits;
    Retry retry = Retry::Never;
    Accept accept = Accept::AnyContent;
    Outcome result = Outcome::Running;
    QUrl location;
    QByteArray encodedAddress;
    QByteArray type;
    QByteArray received;
    int statusCode = 0;
    QString reasonPhrase;
    QString failure;

    // What the headers of the latest answer said.
    QByteArray redirectLocation;
    bool askedToRetry = false;
    // Set by the body callback when it stopped the transfer, and why.
    bool capReached = false;
    bool notHtml = false;
    bool hostRefused = false;

    bool retried = false;
    QElapsedTimer sinceStart;
    QTimer retryWait;
};

} // namespace skarnel
