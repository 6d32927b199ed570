#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>

namespace skarnel {

// The product token a robots.txt group names to speak to this program.
inline constexpr QLatin1StringView robotsProductToken("Skarnel");
// Only the first 500 KiB of a robots.txt are read; what follows is as if it were not there.
inline constexpr qsizetype robotsReadCap = 500 * 1024;
// A Crawl-delay above this is read as this.
inline constexpr std::chrono::seconds robotsCrawlDelayCap {60};

// How the fetch of an origin's /robots.txt ended (redirects, up to five, already followed).
struct RobotsAnswer
{
    // The status of the final answer; 0 when none came.
    int status = 0;
    // Its body, or at least its first robotsReadCap bytes.
    QByteArray body;
    // No complete answer within the time limit.
    bool timedOut = false;
    // Why no answer came at all ("host not found", "connection refused"), in the user's words.
    QString failure;
};

// What an origin's robots.txt says to this program: whether an address of that origin may be
// fetched, the least pause it asks between requests, and the sitemaps it names.
//
// The group followed is the one whose User-agent names the product token (compared without
// regard to case, on the name's letters, "-" and "_" alone: "skarnel/1.0" names it too), else the
// one of "*"; groups that name the same agent are one. No group followed allows everything. Within
// the group, the Allow or Disallow rule whose pattern matches the address's path and query with
// the most octets decides; Allow wins a tie, and an address no rule matches is allowed, as is
// /robots.txt itself. A pattern matches from the path's start; "*" in it stands for any run of
// characters, and a "$" that ends it for the path's end. Both sides are compared in one
// percent-encoded form: non-ASCII characters and octets outside printable ASCII encoded (UTF-8),
// encodings of unreserved characters ("%7E") decoded, the others in upper case; case counts.
// Lines that are not a known "name: value" (binary bytes included) are passed over.
class RobotsTxt
{
public:
    enum class Access {
        // The rules allow the address (or there are none).
        Allowed,
        // A rule forbids it, or the robots.txt answered 5xx or not in time: the whole origin is
        // forbidden for the run.
        Disallowed,
        // The robots.txt could not be asked at all (the host is not found, refuses connections):
        // its addresses fail with that reason, failure(), as they would when fetched.
        Unreachable,
    };

    // Allows everything.
    RobotsTxt() = default;

    // The rules of the text `text` (its first robotsReadCap bytes) for `product`.
    static RobotsTxt parse(QByteArrayView text, QLatin1StringView product = robotsProductToken);
    // The rules an answer gives: a 2xx answer's body parsed; any other answer (3xx after too many
    // redirects, 4xx) allows everything; a 5xx answer or a time-out forbids everything; no answer
    // at all makes the origin Unreachable with the answer's failure.
    static RobotsTxt fromAnswer(const RobotsAnswer &answer,
                                QLatin1StringView product = robotsProductToken);

    Access access(const QUrl &address) const;
    // The same for the path and query of an address as it is sent ("/a/b.html?x=1"), encoded.
    Access accessToPath(QByteArrayView pathAndQuery) const;
    // Why an address that is not Allowed is not fetched, in the user's words: "disallowed by
    // robots.txt", or the failure of an Unreachable origin.
    QString reason(Access access) const;

    // The Crawl-delay of the group followed, at most robotsCrawlDelayCap; zero when none.
    std::chrono::milliseconds crawlDelay() const { return delay; }
    // The addresses of every Sitemap line, wherever it stands, in order, each once.
    const QStringList &sitemaps() const { return sitemapAddresses; }
    // Why the origin is unreachable; empty unless it is.
    const QString &failure() const { return unreachable; }

private:
    struct Rule
    {
        // In the compared form; "*" and a final "$" as written.
        QByteArray pattern;
        bool allow = false;
    };

    QList<Rule> rules;
    bool forbidsAll = false;
    QString unreachable;
    std::chrono::milliseconds delay {0};
    QStringList sitemapAddresses;
};

} // namespace skarnel
