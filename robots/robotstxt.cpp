#include "robotstxt.h"

#include <cmath>

namespace skarnel {

namespace {

bool isUnreserved(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
           || c == '.' || c == '_' || c == '~';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendEncoded(QByteArray &out, unsigned char octet)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    out.append('%');
    out.append(digits[octet >> 4]);
    out.append(digits[octet & 0xF]);
}

// The form in which paths and patterns are compared: octets outside printable ASCII (a UTF-8
// character's included) percent-encoded, encodings of unreserved characters decoded, every other
// encoding in upper case.
QByteArray comparedForm(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto octet = static_cast<unsigned char>(text[i]);
        if (octet == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0
            && hexValue(text[i + 2]) >= 0) {
            const auto decoded =
                    static_cast<unsigned char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            if (isUnreserved(char(decoded)))
                out.append(char(decoded));
            else
                appendEncoded(out, decoded);
            i += 2;
        } else if (octet > 0x20 && octet < 0x7F) {
            out.append(char(octet));
        } else {
            appendEncoded(out, octet);
        }
    }
    return out;
}

// Whether `pattern` (in the compared form) matches `path` from its start: "*" any run of octets, a
// final "$" the end of the path. Matching each run between two "*" at its first place from the left
// is enough, as nothing else in a pattern can match more than one way.
bool matches(QByteArrayView pattern, QByteArrayView path)
{
    const bool anchored = pattern.endsWith('$');
    if (anchored)
        pattern.chop(1);
    qsizetype star = pattern.indexOf('*');
    if (star < 0)
        return anchored ? path == pattern : path.startsWith(pattern);
    if (!path.startsWith(pattern.first(star)))
        return false;
    qsizetype position = star;
    pattern = pattern.sliced(star + 1);
    while ((star = pattern.indexOf('*')) >= 0) {
        const QByteArrayView run = pattern.first(star);
        const qsizetype found = path.indexOf(run, position);
        if (found < 0)
            return false;
        position = found + run.size();
        pattern = pattern.sliced(star + 1);
    }
    if (anchored)
        return path.size() - position >= pattern.size() && path.endsWith(pattern);
    return path.indexOf(pattern, position) >= 0;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

// The agent a User-agent line names: its leading letters, "-" and "_" ("Skarnel/1.0" names
// "Skarnel"), or "*".
QByteArrayView agentName(QByteArrayView value)
{
    if (value.startsWith('*'))
        return value.first(1);
    qsizetype end = 0;
    while (end < value.size()
           && ((value[end] >= 'A' && value[end] <= 'Z') || (value[end] >= 'a' && value[end] <= 'z')
               || value[end] == '-' || value[end] == '_'))
        ++end;
    return value.first(end);
}

bool sameIgnoringCase(QByteArrayView a, QLatin1StringView b)
{
    return !a.isEmpty() && QLatin1StringView(a).compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

RobotsTxt RobotsTxt::parse(QByteArrayView text, QLatin1StringView product)
{
    if (text.size() > robotsReadCap) {
        // A line cut by the cap is not read: "Disallow: /private" cut to "Disallow: /" would
        // forbid the whole site.
        text = text.first(robotsReadCap);
        const qsizetype lastBreak = qMax(text.lastIndexOf('\n'), text.lastIndexOf('\r'));
        text = lastBreak < 0 ? QByteArrayView() : text.first(lastBreak + 1);
    }
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);

    struct Group
    {
        bool named = false;
        QList<Rule> rules;
        std::chrono::milliseconds delay {0};
    };
    Group ours;
    Group anyone;
    // The agents the group being read speaks to; a run of User-agent lines names one group.
    bool forUs = false;
    bool forAnyone = false;
    bool readingAgents = false;
    RobotsTxt robots;

    qsizetype begin = 0;
    while (begin < text.size()) {
        qsizetype end = begin;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        QByteArrayView line = text.sliced(begin, end - begin);
        begin = end + 1;

        if (const qsizetype comment = line.indexOf('#'); comment >= 0)
            line = line.first(comment);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QLatin1StringView name(trimmed(line.first(colon)));
        const QByteArrayView value = trimmed(line.sliced(colon + 1));

        if (name.compare(QLatin1StringView("user-agent"), Qt::CaseInsensitive) == 0) {
            if (!readingAgents)
                forUs = forAnyone = false;
            readingAgents = true;
            const QByteArrayView agent = agentName(value);
            if (sameIgnoringCase(agent, product))
                forUs = ours.named = true;
            else if (agent == "*")
                forAnyone = anyone.named = true;
            continue;
        }
        if (name.compare(QLatin1StringView("sitemap"), Qt::CaseInsensitive) == 0) {
            const QString address = QString::fromUtf8(value);
            if (!address.isEmpty() && !robots.sitemapAddresses.contains(address))
                robots.sitemapAddresses.append(address);
            continue;
        }

        const bool allow = name.compare(QLatin1StringView("allow"), Qt::CaseInsensitive) == 0;
        const bool disallow = name.compare(QLatin1StringView("disallow"), Qt::CaseInsensitive) == 0;
        const bool crawlDelay =
                name.compare(QLatin1StringView("crawl-delay"), Qt::CaseInsensitive) == 0;
        if (!allow && !disallow && !crawlDelay)
            continue;
        readingAgents = false;

        for (Group *group : {forUs ? &ours : nullptr, forAnyone ? &anyone : nullptr}) {
            if (!group)
                continue;
            if (crawlDelay) {
                bool ok = false;
                const double seconds = value.toByteArray().toDouble(&ok);
                if (ok && std::isfinite(seconds) && seconds >= 0) {
                    group->delay = std::chrono::milliseconds(qint64(
                            std::min<double>(seconds, double(robotsCrawlDelayCap.count())) * 1000));
                }
            } else if (!value.isEmpty()) {
                // An empty Disallow forbids nothing, an empty Allow allows nothing more.
                group->rules.append({comparedForm(value), allow});
            }
        }
    }

    const Group &followed = ours.named ? ours : anyone;
    robots.rules = followed.rules;
    robots.delay = followed.delay;
    return robots;
}

RobotsTxt RobotsTxt::fromAnswer(const RobotsAnswer &answer, QLatin1StringView product)
{
    if (!answer.failure.isEmpty() && answer.status == 0 && !answer.timedOut) {
        RobotsTxt robots;
        robots.unreachable = answer.failure;
        return robots;
    }
    if (answer.timedOut || answer.status >= 500) {
        RobotsTxt robots;
        robots.forbidsAll = true;
        return robots;
    }
    if (answer.status >= 200 && answer.status < 300)
        return parse(answer.body, product);
    return {};
}

RobotsTxt::Access RobotsTxt::access(const QUrl &address) const
{
    return accessToPath(
            address.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment));
}

RobotsTxt::Access RobotsTxt::accessToPath(QByteArrayView pathAndQuery) const
{
    if (!unreachable.isEmpty())
        return Access::Unreachable;
    if (pathAndQuery.isEmpty())
        pathAndQuery = "/";
    if (pathAndQuery == "/robots.txt")
        return Access::Allowed;
    if (forbidsAll)
        return Access::Disallowed;

    const QByteArray path = comparedForm(pathAndQuery);
    qsizetype longest = -1;
    bool allowed = true;
    for (const Rule &rule : rules) {
        const qsizetype length = rule.pattern.size();
        if (length < longest || (length == longest && allowed))
            continue;
        if (matches(rule.pattern, path)) {
            allowed = length == longest ? allowed || rule.allow : rule.allow;
            longest = length;
        }
    }
    return allowed ? Access::Allowed : Access::Disallowed;
}

QString RobotsTxt::reason(Access access) const
{
    switch (access) {
    case Access::Allowed:
        return {};
    case Access::Disallowed:
        return QStringLiteral("disallowed by robots.txt");
    case Access::Unreachable:
        return unreachable;
    }
    return {};
}

} // namespace skarnel
