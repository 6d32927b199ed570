#include "checksettings.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>

namespace skarnel {

namespace {

constexpr int LowestStatus = 100;
constexpr int HighestStatus = 599;

const QString Group = QStringLiteral("options");

// The characters of an HTTP field name (a token).
bool isHeaderName(QStringView name)
{
    static const QString Punctuation = QStringLiteral("!#$%&'*+-.^_`|~");
    for (QChar c : name) {
        if (c.unicode() > 0x7f || !(c.isLetterOrNumber() || Punctuation.contains(c)))
            return false;
    }
    return !name.isEmpty();
}

std::optional<QString> headerError(const QString &header, qsizetype number)
{
    // Only the name may be quoted back: the value is a secret.
    if (header.contains(QLatin1Char('\r')) || header.contains(QLatin1Char('\n'))
        || header.contains(QChar(0)))
        return QStringLiteral("header %1 holds a line break or a NUL character").arg(number);
    const qsizetype colon = header.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return QStringLiteral("header %1 has no ':' between its name and its value").arg(number);
    const QString name = header.left(colon).trimmed();
    if (name.isEmpty())
        return QStringLiteral("header %1 has an empty name").arg(number);
    if (!isHeaderName(name))
        return QStringLiteral("header %1 has a name that HTTP does not allow: \"%2\"")
                .arg(number)
                .arg(name);
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

// A Netscape cookie file: a cookie a line in seven TAB-separated fields; blank lines and lines
// starting with '#' are comments, except that "#HttpOnly_" starts a cookie.
std::optional<QString> cookieFileError(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the cookie file %1 cannot be read: %2")
                .arg(path, file.errorString());
    qsizetype number = 0;
    while (!file.atEnd()) {
        ++number;
        QByteArray line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("#HttpOnly_"))
            line.remove(0, 10);
        else if (line.startsWith('#') || line.trimmed().isEmpty())
            continue;
        // The line itself is not quoted: it holds a cookie.
        if (line.count('\t') != 6 || line.contains('\0'))
            return QStringLiteral("%1 is not a Netscape cookie file: line %2 does not hold the "
                                  "seven TAB-separated fields of a cookie")
                    .arg(path)
                    .arg(number);
    }
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("the cookie file %1 cannot be read: %2")
                .arg(path, file.errorString());
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
    if (!settings.exclude.isEmpty())
        options.exclude.setPattern(settings.exclude);
    if (!settings.noCrawl.isEmpty())
        options.noCrawl.setPattern(settings.noCrawl);
    return options;
}

std::optional<QString> settingsError(const CheckSettings &settings)
{
    for (qsizetype i = 0; i < settings.headers.size(); ++i) {
        if (auto error = headerError(settings.headers.at(i), i + 1))
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
    if (!settings.cookieFile.isEmpty())
        return cookieFileError(settings.cookieFile);
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
    settings.resources = store.value(QStringLiteral("resources"), false).toBool();
    settings.fragments = store.value(QStringLiteral("fragments"), false).toBool();
    settings.strictRedirects = store.value(QStringLiteral("strictRedirects"), false).toBool();
    const auto statuses = parseStatuses(store.value(QStringLiteral("accept")).toString());
    if (const auto *list = std::get_if<QList<int>>(&statuses))
        settings.accept = *list;
    for (auto [key, pattern] : {std::pair {QStringLiteral("exclude"), &settings.exclude},
                                std::pair {QStringLiteral("noCrawl"), &settings.noCrawl}}) {
        const QString kept = store.value(key).toString();
        if (QRegularExpression(kept).isValid())
            *pattern = kept;
    }
    settings.perHost = keptNumber(store, QStringLiteral("perHost"), settings.perHost,
                                  CheckSettings::FewestPerHost, CheckSettings::MostPerHost);
    settings.pauseMs = keptNumber(store, QStringLiteral("pauseMs"), settings.pauseMs, 0,
                                  CheckSettings::LongestPauseMs);
    settings.retryCapS = keptNumber(store, QStringLiteral("retryCapS"), settings.retryCapS, 0,
                                    CheckSettings::LongestRetryCapS);
    settings.user = store.value(QStringLiteral("user")).toString();
    settings.cookieFile = store.value(QStringLiteral("cookieFile")).toString();
    store.endGroup();
    return settings;
}

void keepSettings(const CheckSettings &settings, QSettings &store)
{
    store.beginGroup(Group);
    store.setValue(QStringLiteral("resources"), settings.resources);
    store.setValue(QStringLiteral("fragments"), settings.fragments);
    store.setValue(QStringLiteral("strictRedirects"), settings.strictRedirects);
    store.setValue(QStringLiteral("accept"), statusesText(settings.accept));
    store.setValue(QStringLiteral("exclude"), settings.exclude);
    store.setValue(QStringLiteral("noCrawl"), settings.noCrawl);
    store.setValue(QStringLiteral("perHost"), settings.perHost);
    store.setValue(QStringLiteral("pauseMs"), settings.pauseMs);
    store.setValue(QStringLiteral("retryCapS"), settings.retryCapS);
    store.setValue(QStringLiteral("user"), settings.user);
    store.setValue(QStringLiteral("cookieFile"), settings.cookieFile);
    store.endGroup();
    store.sync();
}

} // namespace skarnel
