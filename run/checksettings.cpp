#include "checksettings.h"

#include <net/networkpolicy.h>

#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

#include <folder/builtfolder.h>

namespace skarnel {

namespace {

constexpr int LowestStatus = 100;
constexpr int HighestStatus = 599;

const QString Group = QStringLiteral("options");

// The network reads a header as it is given; what it cannot send is a usage error.
std::optional<QString> headerError(const QString &header)
{
    if (const Checked<QByteArray> parsed = parseHeader(header); !parsed.ok())
        return parsed.error;
    return std::nullopt;
}

std::optional<QString> patternError(const QString &pattern, const QString &what)
{
    const QRegularExpression compiled(pattern);
    if (compiled.isValid())
        return std::nullopt;
    return QStringLiteral("the %1 pattern \"%2\" is not a regular expression: %3 at offset %4")
            .arg(what, pattern, compiled.errorString())
            .arg(compiled.patternErrorOffset());
}

// A file the network cannot read as a Netscape cookie file, whichever host it is read for.
std::optional<QString> cookieFileError(const QString &path)
{
    if (const Checked<QList<QByteArray>> read = readCookieFile(path, QString()); !read.ok())
        return read.error;
    return std::nullopt;
}

std::optional<QString> rangeError(int value, int lowest, int highest, const QString &what)
{
    if (value >= lowest && value <= highest)
        return std::nullopt;
    return QStringLiteral("%1 must be from %2 to %3, not %4")
            .arg(what)
            .arg(lowest)
            .arg(highest)
            .arg(value);
}

// The settings kept from one start to the next, each under its key; a field of CheckSettings that
// is kept is a row here. The headers and the password are secrets and never kept.
struct KeptSwitch
{
    const char *key;
    bool CheckSettings::*field;
};
struct KeptNumber
{
    const char *key;
    int CheckSettings::*field;
    // A kept number out of range reads as the default.
    int lowest;
    int highest;
};
struct KeptText
{
    const char *key;
    QString CheckSettings::*field;
    // A kept pattern that does not compile reads as none.
    bool pattern;
};

constexpr KeptSwitch KeptSwitches[] = {
        {"resources", &CheckSettings::resources},
        {"fragments", &CheckSettings::fragments},
        {"strictRedirects", &CheckSettings::strictRedirects},
        {"robots", &CheckSettings::robots},
};
constexpr KeptNumber KeptNumbers[] = {
        {"perHost", &CheckSettings::perHost, CheckSettings::FewestPerHost,
         CheckSettings::MostPerHost},
        {"pauseMs", &CheckSettings::pauseMs, 0, CheckSettings::LongestPauseMs},
        {"retryCapS", &CheckSettings::retryCapS, 0, CheckSettings::LongestRetryCapS},
        {"crawlLevels", &CheckSettings::crawlLevels, CheckSettings::AllLevels,
         CheckSettings::MostLevels},
};
constexpr KeptText KeptTexts[] = {
        {"exclude", &CheckSettings::exclude, true},
        {"noCrawl", &CheckSettings::noCrawl, true},
        {"user", &CheckSettings::user, false},
        {"cookieFile", &CheckSettings::cookieFile, false},
        {"caFile", &CheckSettings::caFile, false},
        {"userAgent", &CheckSettings::userAgent, false},
        {"siteUrl", &CheckSettings::siteUrl, false},
        {"sitemap", &CheckSettings::sitemap, false},
};

int keptNumber(const QSettings &store, const QString &key, int fallback, int lowest, int highest)
{
    bool number = false;
    const int value = store.value(key).toInt(&number);
    return number && value >= lowest && value <= highest ? value : fallback;
}

} // namespace

RunOptions runOptionsOf(const CheckSettings &settings)
{
    RunOptions options;
    options.resources = settings.resources;
    options.fragments = settings.fragments;
    options.strictRedirects = settings.strictRedirects;
    options.acceptedStatuses = settings.accept;
    options.perHost = settings.perHost;
    options.pageLimit = settings.maxPages;
    if (!settings.exclude.isEmpty())
        options.exclude.setPattern(settings.exclude);
    if (!settings.noCrawl.isEmpty())
        options.noCrawl.setPattern(settings.noCrawl);
    return options;
}

Checked<NetworkPolicy> networkPolicyOf(const CheckSettings &settings, const QString &start)
{
    NetworkPolicy policy;
    for (const QString &header : settings.headers)
        policy.headers.append(parseHeader(header).value);
    policy.user = settings.user;
    policy.password = settings.password;
    // A login typed in the start address logs in to its origin, for every page of it.
    policy.setStart(QUrl(start, QUrl::TolerantMode));
    policy.perHost = settings.perHost;
    policy.pause = std::chrono::milliseconds(settings.pauseMs);
    policy.retryCap = std::chrono::seconds(settings.retryCapS);
    policy.userAgent = settings.userAgent;
    if (settings.insecure)
        policy.insecureOrigin = policy.origin;
    // The CA file named in the settings, else the one the environment names, as curl reads it.
    const Checked<QString> caFile =
            settings.caFile.isEmpty() ? chooseCaFile({}, qEnvironmentVariable("CURL_CA_BUNDLE"),
                                                     qEnvironmentVariable("SSL_CERT_FILE"))
                                      : checkCaFile(settings.caFile);
    if (!caFile.ok())
        return {policy, caFile.error};
    policy.caFile = caFile.value;
    if (!settings.cookieFile.isEmpty()) {
        Checked<QList<QByteArray>> cookies =
                readCookieFile(settings.cookieFile, policy.origin.host);
        if (!cookies.ok())
            return {policy, cookies.error};
        policy.cookies = std::move(cookies.value);
    }
    return {policy, {}};
}

std::optional<QString> settingsError(const CheckSettings &settings)
{
    for (const QString &header : settings.headers) {
        if (auto error = headerError(header))
            return error;
    }
    for (int status : settings.accept) {
        if (status < LowestStatus || status > HighestStatus)
            return QStringLiteral("the accepted status %1 is not a status from %2 to %3")
                    .arg(status)
                    .arg(LowestStatus)
                    .arg(HighestStatus);
    }
    if (auto error = patternError(settings.exclude, QStringLiteral("exclude")))
        return error;
    if (auto error = patternError(settings.noCrawl, QStringLiteral("no-crawl")))
        return error;
    if (auto error = rangeError(settings.perHost, CheckSettings::FewestPerHost,
                                CheckSettings::MostPerHost,
                                QStringLiteral("the requests at once per host")))
        return error;
    if (auto error = rangeError(settings.pauseMs, 0, CheckSettings::LongestPauseMs,
                                QStringLiteral("the pause between requests to a host (ms)")))
        return error;
    if (auto error = rangeError(settings.retryCapS, 0, CheckSettings::LongestRetryCapS,
                                QStringLiteral("the longest Retry-After wait (s)")))
        return error;
    // Basic authentication joins the two with a colon; neither may break a header line.
    if (settings.user.contains(QLatin1Char(':')) || settings.user.contains(QLatin1Char('\n'))
        || settings.user.contains(QLatin1Char('\r')) || settings.user.contains(QChar(0)))
        return QStringLiteral("the user name may not hold a ':', a line break or a NUL character");
    if (settings.password.contains(QLatin1Char('\n'))
        || settings.password.contains(QLatin1Char('\r')) || settings.password.contains(QChar(0)))
        return QStringLiteral("the password may not hold a line break or a NUL character");
    if (const QString &sitemap = settings.sitemap; !sitemap.isEmpty() && sitemap != sitemapAuto) {
        const QUrl address(sitemap, QUrl::StrictMode);
        const QString scheme = address.scheme().toLower();
        if (!address.isValid() || address.host().isEmpty()
            || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
            return QStringLiteral("the sitemap '%1' is neither an http(s) address nor 'auto'")
                    .arg(sitemap);
    }
    if (!settings.siteUrl.isEmpty()) {
        if (QString error = checkSiteUrl(settings.siteUrl); !error.isEmpty())
            return QStringLiteral("the site address is %1").arg(error);
    }
    if (!settings.cookieFile.isEmpty()) {
        if (auto error = cookieFileError(settings.cookieFile))
            return error;
    }
    if (!settings.caFile.isEmpty()) {
        if (const Checked<QString> caFile = checkCaFile(settings.caFile); !caFile.ok())
            return caFile.error;
    }
    if (settings.userAgent.contains(QLatin1Char('\n'))
        || settings.userAgent.contains(QLatin1Char('\r')) || settings.userAgent.contains(QChar(0)))
        return QStringLiteral("the user agent may not hold a line break or a NUL character");
    if (auto error = rangeError(settings.crawlLevels, CheckSettings::AllLevels,
                                CheckSettings::MostLevels, QStringLiteral("the crawl levels")))
        return error;
    if (settings.maxPages < 1)
        return QStringLiteral("the most pages a crawl loads must be at least 1, not %1")
                .arg(settings.maxPages);
    return std::nullopt;
}

std::variant<QList<int>, QString> parseStatuses(const QString &text)
{
    static const QRegularExpression Separators(QStringLiteral("[,\\s]+"));
    QList<int> statuses;
    for (const QString &entry : text.split(Separators, Qt::SkipEmptyParts)) {
        bool number = false;
        const int status = entry.toInt(&number);
        if (!number || status < LowestStatus || status > HighestStatus)
            return QStringLiteral("\"%1\" is not a status from %2 to %3")
                    .arg(entry)
                    .arg(LowestStatus)
                    .arg(HighestStatus);
        if (!statuses.contains(status))
            statuses.append(status);
    }
    return statuses;
}

QString statusesText(const QList<int> &statuses)
{
    QStringList entries;
    for (int status : statuses)
        entries.append(QString::number(status));
    return entries.join(QStringLiteral(", "));
}

CheckSettings loadSettings(QSettings &store)
{
    CheckSettings settings;
    store.beginGroup(Group);
    for (const KeptSwitch &kept : KeptSwitches)
        settings.*kept.field = store.value(QLatin1String(kept.key), false).toBool();
    for (const KeptNumber &kept : KeptNumbers)
        settings.*kept.field = keptNumber(store, QLatin1String(kept.key), settings.*kept.field,
                                          kept.lowest, kept.highest);
    for (const KeptText &kept : KeptTexts) {
        const QString text = store.value(QLatin1String(kept.key)).toString();
        if (!kept.pattern || QRegularExpression(text).isValid())
            settings.*kept.field = text;
    }
    const auto statuses = parseStatuses(store.value(QStringLiteral("accept")).toString());
    if (const auto *list = std::get_if<QList<int>>(&statuses))
        settings.accept = *list;
    store.endGroup();
    return settings;
}

void keepSettings(const CheckSettings &settings, QSettings &store)
{
    store.beginGroup(Group);
    for (const KeptSwitch &kept : KeptSwitches)
        store.setValue(QLatin1String(kept.key), settings.*kept.field);
    for (const KeptNumber &kept : KeptNumbers)
        store.setValue(QLatin1String(kept.key), settings.*kept.field);
    for (const KeptText &kept : KeptTexts)
        store.setValue(QLatin1String(kept.key), settings.*kept.field);
    store.setValue(QStringLiteral("accept"), statusesText(settings.accept));
    store.endGroup();
    store.sync();
}

} // namespace skarnel
