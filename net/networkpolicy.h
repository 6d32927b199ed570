#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>

namespace skarnel {

// Requests at once to one host, unless the user allows more or fewer: the network's connections,
// the walks' loads ahead and the settings all start from it.
constexpr int DefaultPerHost = 4;
// The longest Retry-After waited out unless the user says otherwise.
constexpr std::chrono::seconds DefaultRetryCap {10};

// What a check allows its requests: the credentials of the site it checks, and the pace it keeps
// with every host. The default sends no credentials, lets DefaultPerHost requests to a host run at
// once with no pause between them, and waits out a Retry-After of up to DefaultRetryCap.
struct NetworkPolicy
{
    // The host name the credentials belong to, compared without regard to case; any scheme and
    // any port. Requests to every other host, redirects included, carry none of them.
    QString credentialHost;
    // Sent as given, "Name: value" each.
    QList<QByteArray> headers;
    // Basic authentication, when `user` is not empty.
    QString user;
    QString password;
    // Lines of a Netscape cookie file, as readCookieFile() gives them for `credentialHost`.
    QList<QByteArray> cookies;

    // Requests in flight to one host at most; more wait their turn.
    int perHost = DefaultPerHost;
    // The least time between the starts of two requests to one host.
    std::chrono::milliseconds pause {0};
    // The longest Retry-After of a 429 or 503 that is waited out to ask once more.
    std::chrono::milliseconds retryCap = DefaultRetryCap;

    bool isCredentialHost(const QString &host) const
    {
        return !credentialHost.isEmpty() && host.compare(credentialHost, Qt::CaseInsensitive) == 0;
    }
};

// The outcome of reading what the user gave: a value, or why there is none, in words the user
// reads. An error never repeats a secret the input may hold.
template<typename T>
struct Checked
{
    T value {};
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// A header given as "Name: value", checked before any request is made: it needs a colon, a name
// made of the characters a header name may have, and no line break or NUL anywhere.
Checked<QByteArray> parseHeader(const QString &text);

// The cookies of the Netscape cookie file at `path` that apply to `host`: those of its very name,
// and those of a domain above it that are sent to its subdomains. Every line but blank lines and
// comments must be a cookie of seven fields separated by tabs ("#HttpOnly_" may start one); the
// first line that is not makes an error that names it.
Checked<QList<QByteArray>> readCookieFile(const QString &path, const QString &host);

// `line`, a cookie of a Netscape cookie file, bound to `host` alone: its domain made `host` and
// not sent to subdomains, so that libcurl's cookie engine sends it nowhere else.
QByteArray cookieForHostOnly(const QByteArray &line, const QString &host);

} // namespace skarnel
