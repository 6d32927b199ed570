#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>

// An HTTP server on a loopback address that misbehaves on purpose, for tests of what the program
// does with a hostile or broken server. Each connection is answered by a thread of its own, byte
// by byte on the socket, so an answer can be anything: slow, endless, cut off, or not HTTP at all.
//
// Every answer ends by itself: when it is complete, when its client goes away (counted by
// abandoned()), after `longestAnswer`, or when the server is destroyed, which ends every answer and
// waits for its threads. Every answer closes its connection at its end. Paths not in the table are
// answered 404 with an empty body.
class HostileServer final
{
public:
    static constexpr qint64 GiB = qint64(1) << 30;

    explicit HostileServer(const QString &address = QStringLiteral("127.0.0.1"),
                           std::chrono::milliseconds longestAnswer = std::chrono::seconds(30));
    ~HostileServer();
    HostileServer(const HostileServer &) = delete;
    HostileServer &operator=(const HostileServer &) = delete;

    // A well-behaved answer: `body` with that status and Content-Type (none when empty).
    void page(const QString &path, const QByteArray &body,
              const QByteArray &contentType = QByteArrayLiteral("text/html; charset=utf-8"),
              int status = 200);
    // A redirect to `target`, sent as it is in the Location header.
    void redirect(const QString &path, const QByteArray &target, int status = 302);
    // Headers announcing a body of `length` bytes, `head`, then one more space a second.
    void drip(const QString &path, const QByteArray &head = {}, qint64 length = 100'000);
    // A chunked body that never ends: `head`, then spaces as fast as the client takes them, up to
    // `atMost` bytes in all.
    void endless(const QString &path, const QByteArray &head = {},
                 const QByteArray &contentType = QByteArrayLiteral("text/html"),
                 qint64 atMost = GiB);
    // A Content-Length of `length`, then `head` and spaces as fast as the client takes them, up to
    // `atMost` bytes of body.
    void hugeLength(const QString &path, const QByteArray &head = {}, qint64 length = GiB,
                    qint64 atMost = GiB);
    // A gzip body (Content-Encoding: gzip) of a few megabytes that inflates to `inflated` bytes of
    // spaces after `head`.
    void gzipBomb(const QString &path, const QByteArray &head = {},
                  const QByteArray &contentType = QByteArrayLiteral("text/html"),
                  qint64 inflated = 2 * GiB);
    // No HTTP at all: random bytes as fast as the client takes them, up to `atMost`; with
    // `lineBreaks` false, never a line break.
    void garbage(const QString &path, bool lineBreaks = true, qint64 atMost = GiB);
    // Headers announcing a body of `length` bytes, `head`, then the connection is reset.
    void resetMidBody(const QString &path, const QByteArray &head, qint64 length = 100'000);
    // Reads the request and never answers.
    void silent(const QString &path);

    // "http://ADDRESS:PORT" followed by `path`.
    QString url(const QString &path) const;
    quint16 port() const;

    // Requests received for `path`, whatever their query.
    int hits(const QString &path) const;
    // Requests received for any path.
    int requests() const;
    // Answers to `path` under way at this moment.
    int answering(const QString &path) const;
    // Answers to `path` that ended because the client closed the connection.
    int abandoned(const QString &path) const;
    // Bytes sent in answers to `path`, headers included.
    qint64 sent(const QString &path) const;
    // The longest time an answer to `path` has taken from its request to its end; zero while none
    // has ended.
    std::chrono::milliseconds longestAnswer(const QString &path) const;

    // The gzip body that gzipBomb() sends: `head` then spaces, `inflated` bytes in all.
    static QByteArray makeGzipBomb(const QByteArray &head, qint64 inflated);

private:
    struct Server;
    std::unique_ptr<Server> server;
};
