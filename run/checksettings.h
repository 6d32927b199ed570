#pragma once

#include <net/networkpolicy.h>
#include <walk/runoptions.h>

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

class QSettings;

namespace skarnel {

// Everything a run can be told beyond the window's own controls: what the commands do, and how
// the network paces itself and logs in. The defaults leave every command as it is without them.
// A new setting is a field here with its default, checked in settingsError(), handed on in
// runOptionsOf() or networkPolicyOf(); a row of the kept settings when it is kept, and a row of
// the command line's option table when the command line takes it.
struct CheckSettings
{
    static constexpr int FewestPerHost = 1;
    static constexpr int MostPerHost = 64;
    static constexpr int LongestPauseMs = 600000;
    static constexpr int LongestRetryCapS = 3600;

    bool resources = false;
    bool fragments = false;
    bool strictRedirects = false;
    // Statuses, 100 to 599, that count as fine besides 2xx and 3xx.
    QList<int> accept;
    // Unanchored QRegularExpression patterns; empty: none.
    QString exclude;
    QString noCrawl;

    // Requests at once to one host.
    int perHost = DefaultPerHost;
    // The least time between the starts of two requests to one host.
    int pauseMs = 0;
    // The longest Retry-After that is waited for.
    int retryCapS = int(DefaultRetryCap.count());
    // "Name: value", sent to the start address's origin only. The values are secrets.
    QStringList headers;
    // Basic authentication; no user name, no login.
    QString user;
    QString password;
    // A Netscape cookie file, read by the network for each run; empty: none.
    QString cookieFile;

    // Certificates, our name and how far a crawl goes.
    static constexpr int AllLevels = 0;
    static constexpr int MostLevels = 100;
    static constexpr int DefaultMaxPages = 100000;
    // A PEM file of authorities trusted for every host besides the system's; empty: the one
    // CURL_CA_BUNDLE names, else SSL_CERT_FILE, else none.
    QString caFile;
    // The start address's origin is not verified (its scheme, host and port alone). Never kept.
    bool insecure = false;
    // The User-Agent sent to every host; empty: "Skarnel/VERSION".
    QString userAgent;
    // The levels a Crawl press of the window goes, 1 to MostLevels, or AllLevels: until no new
    // internal page. Beyond one level each page is loaded once in a press.
    int crawlLevels = 1;
    // The most pages a crawl of all levels loads.
    int maxPages = DefaultMaxPages;
    // Where a built folder's pages are read as served, an http or https address; empty: the
    // stand-in origin. Only a start that names a folder uses it.
    QString siteUrl;
    // Keeps out of what each origin's robots.txt forbids, and paces its host by its Crawl-delay.
    bool robots = false;
    // A sitemap's address, or "auto" (those robots.txt names, else /sitemap.xml of the start's
    // origin), whose pages of the site join the first level; empty: none.
    QString sitemap;

    bool operator==(const CheckSettings &) const = default;
};

// The switches of `settings` as the commands take them, the patterns compiled. Meant for settings
// that settingsError() accepts: a pattern that does not compile matches nothing.
// The word that asks for the site's own sitemaps.
inline constexpr QLatin1StringView sitemapAuto("auto");

RunOptions runOptionsOf(const CheckSettings &settings);

// The network's policy for a run from the start address `start`: the credentials go to its host
// alone, and the cookies are those the cookie file holds for it. With the policy, why the cookie
// file could not be read, when it could not: the policy then holds no cookies.
Checked<NetworkPolicy> networkPolicyOf(const CheckSettings &settings, const QString &start);

// What is wrong with `settings`, in words for the user, or nothing. The words never hold a
// header's value, a password or a cookie.
std::optional<QString> settingsError(const CheckSettings &settings);

// "403, 429" (commas or spaces between) as a list of statuses, or what is wrong with it.
std::variant<QList<int>, QString> parseStatuses(const QString &text);
// The list as parseStatuses() reads it back.
QString statusesText(const QList<int> &statuses);

// The settings `store` keeps, the defaults for any it does not keep or keeps out of range.
// Headers and password are never kept, so they come back empty.
CheckSettings loadSettings(QSettings &store);
// Keeps `settings` in `store`, all but the headers and the password, and writes them out at once.
void keepSettings(const CheckSettings &settings, QSettings &store);

} // namespace skarnel
