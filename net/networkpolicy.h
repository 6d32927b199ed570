#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>

namespace skarnel {

// Requests at once to one host, unless the user allows more or fewer: the network's connections,
// the walks' loads ahead and the settings all start from it.
constexpr int DefaultPerHost = 4;
// The longest Retry-After waited out unless the user says otherwise.
constexpr std::chrono::seconds DefaultRetryCap {10};

// The scheme, host and port an address belongs to: one site, as browsers and curl take it. The
// port is always filled in, the scheme's own when the address names none.
struct Origin
{
    QString scheme;
    QString host;
    int port = -1;

    static Origin of(const QUrl &address);
    bool isEmpty() const { return host.isEmpty(); }
    // "https://host:443".
    QString toString() const;
    friend bool operator==(const Origin &, const Origin &) = default;
};

// A user name and password written in an address, for that address's origin alone.
struct AddressLogin
{
    Origin origin;
    QString user;
    QString password;

    // The login of `address`; empty when it has none.
    static AddressLogin of(const QUrl &address);
    bool isEmpty() const { return user.isEmpty() && password.isEmpty(); }
};

// What one request carries of the secrets: the policy's headers, a basic login, a Cookie header.
struct RequestCredentials
{
    bool headers = false;
    QString user;
    QString password;
    // The value of the Cookie header; empty: none is sent.
    QByteArray cookie;

    bool basic() const { return !user.isEmpty() || !password.isEmpty(); }
};

// What a check allows its requests: the credentials of the site it checks, the certificates it
// trusts, how it names itself, and the pace it keeps with every host. The default sends no
// credentials, verifies every certificate against the system's authorities, lets DefaultPerHost
// requests to a host run at once with no pause between them, and waits out a Retry-After of up to
// DefaultRetryCap.
//
// The credentials belong to one origin, the start address as typed (never where it redirects):
// they go to it, and to its HTTPS upgrade when it is http on port 80 (the same host on https
// and port 443), never to another scheme, host or port, redirects included. From an https start
// nothing secret is ever sent over http.
struct NetworkPolicy
{
    Origin origin;
    // Sent as given, "Name: value" each.
    QList<QByteArray> headers;
    // Basic authentication, when `user` is not empty.
    QString user;
    QString password;
    // Lines of a Netscape cookie file, as readCookieFile() gives them for the origin's host. A
    // cookie goes to the origin alone, when its path matches, while it has not expired, and, when
    // it is secure, over https only (a loopback address included).
    QList<QByteArray> cookies;

    // Sent as the User-Agent to every host; empty: "Skarnel/VERSION". A header "User-Agent: …"
    // among `headers` wins for the origin.
    QString userAgent;

    // A PEM file of authorities trusted for every host in addition to the system's; empty: none.
    QString caFile;
    // The origin whose certificate is not verified; every other origin's is, another port of
    // the same host included. Empty: every certificate is verified.
    Origin insecureOrigin;

    // Requests in flight to one host at most; more wait their turn. The client's connections to
    // a host and in all follow it.
    int perHost = DefaultPerHost;
    // The least time between the starts of two requests to one host.
    std::chrono::milliseconds pause {0};
    // The longest Retry-After of a 429 or 503 that is waited out to ask once more.
    std::chrono::milliseconds retryCap = DefaultRetryCap;

    // The credentials belong to the origin of `start`, the address as the user typed it; a login
    // written in it is the policy's login when the policy has none of its own.
    void setStart(const QUrl &start);
    // Whether the policy's credentials go to `address`.
    bool sendsCredentialsTo(const QUrl &address) const;
    // What a request to `address` carries; `login`, written in the address the request started
    // from, goes to its own origin alone and wins there over the policy's user.
    RequestCredentials credentialsFor(const QUrl &address, const AddressLogin &login = {},
                                      const QDateTime &now = QDateTime::currentDateTimeUtc()) const;
    bool hasCredentials() const;
    // Whether the certificate of `address` is verified.
    bool verifies(const QUrl &address) const;
    // Certificates go unverified for the very origin that receives secrets: the faces warn.
    bool insecureWithCredentials() const;
    // The User-Agent sent to every host.
    QByteArray userAgentHeader() const;
};

// "Skarnel/VERSION".
QString defaultUserAgent();

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

// The value of the Cookie header that `cookies`, lines of a Netscape cookie file, give a request
// to `address` at `now`: path, expiry and the secure flag apply, the domain is not looked at.
QByteArray cookieHeader(const QList<QByteArray> &cookies, const QUrl &address,
                        const QDateTime &now);

// An address the user typed, read by the URL parser: an address whose login makes it ambiguous
// (a character in the user name or password that ends it early, such as / ? # @ or a space,
// written as it is) is an error that does not repeat the login.
Checked<QUrl> checkAddress(const QString &typed);

// A CA file the user named: it must exist and hold at least one PEM certificate. `named` says
// where the name came from in the error ("--ca-file", "CURL_CA_BUNDLE").
Checked<QString> checkCaFile(const QString &path, const QString &named = {});

// The CA file of a run: the one given as an option, else the file CURL_CA_BUNDLE names, else the
// one SSL_CERT_FILE names (empty values count as unset), checked; empty when none is given.
Checked<QString> chooseCaFile(const QString &option, const QString &curlCaBundle,
                              const QString &sslCertFile);

} // namespace skarnel
