#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <memory>

// An HTTP server on a loopback address for tests, or an HTTPS one with a certificate of
// tests/data/tls. It listens on a free port from construction and answers from a pool of 24
// threads, out of a table of paths that the test may fill in at any time; any other path is
// answered 404 with an empty body. Destroying it ends every trickling answer, stops the server and
// waits for its threads.
class LoopbackServer final
{
public:
    // The certificate (PEM) and its key of an HTTPS server.
    struct Tls
    {
        QString certificate;
        QString key;
    };

    explicit LoopbackServer(const QString &address = QStringLiteral("127.0.0.1"),
                            const Tls &tls = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    // Serves `body` at `path` with that status. An empty `contentType` sends an empty Content-Type,
    // which clients read as none.
    void page(const QString &path, const QByteArray &body,
              const QByteArray &contentType = QByteArrayLiteral("text/html; charset=utf-8"),
              int status = 200);
    // Answers `path` the next `times` times with `status` and `Retry-After: retryAfter` before its
    // page (set after the page).
    void busy(const QString &path, int times, int status, const QByteArray &retryAfter);
    // Answers HEAD requests for `path` with `status` and no more (set after the page).
    void refuseHead(const QString &path, int status);
    // Answers `path` 401 unless the request carries the header `name` with `value` (set after the
    // page).
    void requireHeader(const QString &path, const QByteArray &name, const QByteArray &value);
    // Holds each answer to `path` back for `delay` (set after the page).
    void delay(const QString &path, std::chrono::milliseconds delay);
    // Answers `path` with a redirect to `target`, a path on this server or a whole address.
    void redirect(const QString &path, const QString &target, int status = 302);
    // Answers `path` with its headers and `head`, then trickles one more space every 20 ms and
    // never completes: until the client goes away (counted by abandoned()), the server is
    // destroyed, or a minute has passed.
    void stall(const QString &path, const QByteArray &head = {},
               const QByteArray &contentType = QByteArrayLiteral("text/html"));

    // "http://ADDRESS:PORT" (https for an HTTPS server) followed by `path`.
    QString url(const QString &path) const;
    quint16 port() const;
    // Requests received for `path`, whatever their query.
    int hits(const QString &path) const;
    // Their methods, in the order received, separated by spaces: "HEAD GET".
    QString methods(const QString &path) const;
    // When they arrived, in milliseconds from an arbitrary start, in order.
    QList<qint64> arrivals(const QString &path) const;
    // Requests received for any path that carried the header `name`.
    int carrying(const QByteArray &name) const;
    // The values of the header `name` received for any path, in the order received.
    QList<QByteArray> received(const QByteArray &name) const;
    // The most requests the server has been answering at once.
    int mostAtOnce() const;
    // Answers to `path` trickling at this moment, their headers and head sent.
    int trickling(const QString &path) const;
    // Trickling answers to `path` that ended because the client closed the connection.
    int abandoned(const QString &path) const;

    // An address on 127.0.0.1 where nothing listens, so that connecting to it is refused.
    static QString refusedUrl(const QString &path = QStringLiteral("/"));

private:
    struct Server;
    std::unique_ptr<Server> server;
};
