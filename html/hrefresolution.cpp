#include "hrefresolution.h"

#include <html/webaddress.h>

#include <QList>
#include <QUrl>

#include <optional>

namespace skarnel {

namespace {

int defaultPortOf(QStringView scheme)
{
    return scheme == u"https" ? 443 : 80;
}

bool isAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

QString cleanedHref(QStringView href)
{
    const auto isControlOrSpace = [](QChar c) { return c.unicode() <= 0x20; };
    qsizetype begin = 0;
    qsizetype end = href.size();
    while (begin < end && isControlOrSpace(href[begin]))
        ++begin;
    while (end > begin && isControlOrSpace(href[end - 1]))
        --end;
    QString cleaned = href.sliced(begin, end - begin).toString();
    cleaned.removeIf([](QChar c) { return c == u'\t' || c == u'\n' || c == u'\r'; });
    return cleaned;
}

// The length of the scheme `href` starts with, 0 when it is a relative reference.
qsizetype schemeLength(QStringView href)
{
    if (href.isEmpty() || !isAsciiLetter(href[0].unicode()))
        return 0;
    for (qsizetype i = 1; i < href.size(); ++i) {
        const char16_t c = href[i].unicode();
        if (c == u':')
            return i;
        if (!isAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.')
            return 0;
    }
    return 0;
}

// What a browser leaves unencoded in a query and in a fragment, besides letters, digits and "-._~".
constexpr char queryKeeps[] = "!$%&()*+,/:;=?@[\\]^`{|}";
constexpr char fragmentKeeps[] = "!#$%&'()*+,/:;=?@[\\]^{|}";

QString percentEncoded(QStringView part, const char *keeps)
{
    // Qt encodes "%" whatever it is told to keep, so the text between the percent signs is encoded
    // piece by piece.
    QList<QByteArray> pieces = part.toUtf8().split('%');
    for (QByteArray &piece : pieces)
        piece = piece.toPercentEncoding(keeps);
    return QString::fromLatin1(pieces.join('%'));
}

} // namespace

QString resolveHref(QStringView rawHref, const QUrl &base)
{
    const QString href = cleanedHref(rawHref);
    const qsizetype schemeSize = schemeLength(href);
    const QString scheme = href.first(schemeSize).toLower();
    if (schemeSize > 0 && !isWebScheme(scheme))
        return scheme + href.sliced(schemeSize);

    // Qt would re-encode the query and the fragment its own way; a browser keeps them as written.
    QStringView rest = href;
    std::optional<QStringView> fragment;
    std::optional<QStringView> query;
    if (const qsizetype hash = rest.indexOf(u'#'); hash >= 0) {
        fragment = rest.sliced(hash + 1);
        rest = rest.first(hash);
    }
    if (const qsizetype question = rest.indexOf(u'?'); question >= 0) {
        query = rest.sliced(question + 1);
        rest = rest.first(question);
    }

    QString reference = rest.toString();
    if (schemeSize > 0 || isWebScheme(base.scheme()))
        reference.replace(u'\\', u'/');
    if (schemeSize > 0) {
        QStringView afterScheme = QStringView(reference).sliced(schemeSize + 1);
        if (scheme == base.scheme() && !afterScheme.startsWith(u"//")) {
            // "http:page.html" in an http page is relative to it.
            reference = afterScheme.toString();
        } else {
            // Any number of slashes, even none, introduces the host.
            while (afterScheme.startsWith(u'/'))
                afterScheme = afterScheme.sliced(1);
            reference = scheme + QStringLiteral("://") + afterScheme.toString();
        }
    }

    QUrl resolved = base;
    if (!reference.isEmpty()) {
        const QUrl relative(reference, QUrl::TolerantMode);
        if (!relative.isValid())
            return href;
        resolved = base.resolved(relative);
    }
    if (!resolved.isValid() || resolved.isRelative())
        return href;

    std::optional<QString> finalQuery;
    if (query)
        finalQuery = percentEncoded(*query, queryKeeps);
    else if (reference.isEmpty() && base.hasQuery())
        finalQuery = base.query(QUrl::FullyEncoded);
    resolved = resolved.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    if (isWebScheme(resolved.scheme())) {
        if (resolved.host().isEmpty())
            return href;
        if (resolved.port() == defaultPortOf(resolved.scheme()))
            resolved.setPort(-1);
        if (resolved.path().isEmpty())
            resolved.setPath(QStringLiteral("/"));
    }

    QString address = resolved.toString(QUrl::FullyEncoded);
    if (finalQuery) {
        address += u'?';
        address += *finalQuery;
    }
    if (fragment) {
        address += u'#';
        address += percentEncoded(*fragment, fragmentKeeps);
    }
    return address;
}

} // namespace skarnel
