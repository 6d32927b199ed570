#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// One GET of a page for the document service and the transfer, kept within bounds whatever the
// server does: redirects are followed only to http and https, at most 20 of them; the whole
// download ends within its time limit however slowly the bytes arrive; no more body than the cap
// is read. The download advances, and its outcome changes, only in slots run by network and timer
// events on the thread that created it. Destroying an unfinished download aborts it and closes its
// connection.
//
// Redirects are followed here, one request per hop, and not by the manager: with Qt 6.4's
// UserVerifiedRedirectPolicy a redirected reply now and then finishes with an empty body and no
// error, and crashes in the decompressor when the responses are compressed.
class PageDownload final : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        std::chrono::milliseconds time = std::chrono::seconds(60);
        qint64 bodyCap = 16 * 1024 * 1024;
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

    // A manager set up for page downloads. Every download of a service shares one, so that
    // connections are kept alive between pages; each download holds a reference to it.
    static std::shared_ptr<QNetworkAccessManager> createManager();

    // Starts downloading `address`, used as given.
    PageDownload(std::shared_ptr<QNetworkAccessManager> sharedManager, const QString &address,
                 const Limits &downloadLimits, Accept accepted);
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
    // Why the download failed or ran out of time, in words a user reads.
    const QString &failureReason() const { return failure; }

signals:
    // The outcome is no longer Running: emitted once, from the event that ended the download (a
    // download that fails at once, in the constructor, emits nothing).
    void ended();

private:
    void request(const QUrl &address);
    void checkHeaders();
    void readBody();
    void finishReply();
    void end(Outcome outcome);

    std::shared_ptr<QNetworkAccessManager> manager;
    QNetworkReply *reply = nullptr;
    // The reply of the hop before, kept until it is surely out of its own signals.
    QNetworkReply *retired = nullptr;
    int redirectsLeft = 20;
    // Where the current response redirects to, when it is a redirect to follow.
    std::optional<QUrl> redirectTarget;
    QTimer timeLimit;
    Limits limits;
    Accept accept = Accept::AnyContent;
    Outcome result = Outcome::Running;
    QUrl location;
    QByteArray type;
    QByteArray received;
    int statusCode = 0;
    QString reasonPhrase;
    QString failure;
};
