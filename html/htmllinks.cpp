#include "htmllinks.h"

#include <html/htmldecoding.h>
#include <html/parsememory.h>
#include <html/webaddress.h>

#include <QDeadlineTimer>
#include <QHash>
#include <QStringDecoder>

#include <gumbo.h>

#include <optional>
#include <vector>

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

struct FoundLinks
{
    std::vector<const char *> hrefs;
    const char *baseHref = nullptr;
};

FoundLinks findLinks(const GumboNode *document)
{
    FoundLinks found;
    std::vector<const GumboNode *> pending {document};
    while (!pending.empty()) {
        const GumboNode *node = pending.back();
        pending.pop_back();
        const GumboVector *children = &node->v.document.children;
        if (node->type == GUMBO_NODE_ELEMENT) {
            const GumboElement &element = node->v.element;
            children = &element.children;
            if (element.tag_namespace == GUMBO_NAMESPACE_HTML) {
                if (element.tag == GUMBO_TAG_A || element.tag == GUMBO_TAG_AREA) {
                    if (const GumboAttribute *href =
                                gumbo_get_attribute(&element.attributes, "href"))
                        found.hrefs.push_back(href->value);
                } else if (element.tag == GUMBO_TAG_BASE && !found.baseHref) {
                    if (const GumboAttribute *href =
                                gumbo_get_attribute(&element.attributes, "href"))
                        found.baseHref = href->value;
                }
            }
        }
        // Template contents (GUMBO_NODE_TEMPLATE) are not part of the document; text has no links.
        for (unsigned i = children->length; i-- > 0;) {
            const auto *child = static_cast<const GumboNode *>(children->data[i]);
            if (child->type == GUMBO_NODE_ELEMENT)
                pending.push_back(child);
        }
    }
    return found;
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

QStringList readLinks(const QByteArray &body, const QByteArray &contentType,
                      const QUrl &documentAddress, std::chrono::milliseconds parseBudget,
                      const std::atomic<bool> *abandoned)
{
    // Gumbo reads UTF-8 and replaces invalid sequences itself, so a UTF-8 page is parsed in place.
    QStringDecoder decoder = htmlDecoder(body, contentType);
    QByteArrayView html = body;
    QByteArray converted;
    if (qstrcmp(decoder.name(), "UTF-8") == 0) {
        if (html.startsWith("\xEF\xBB\xBF"))
            html = html.sliced(3);
    } else {
        converted = QString(decoder.decode(body)).toUtf8();
        html = converted;
    }

    // The links found point into the tree, which lives until they have been read.
    const ParsedHtml parsed(html, QDeadlineTimer(parseBudget), abandoned);
    if (!parsed.document())
        return {};
    const FoundLinks found = findLinks(parsed.document());

    QUrl base = documentAddress;
    if (found.baseHref) {
        const QUrl declared(resolveHref(QString::fromUtf8(found.baseHref), documentAddress),
                            QUrl::TolerantMode);
        if (declared.isValid() && isWebScheme(declared.scheme()) && !declared.host().isEmpty())
            base = declared;
    }

    // Pages repeat their links ("#", "/", menus); each is resolved once.
    QHash<QByteArrayView, QString> resolved;
    QStringList links;
    links.reserve(qsizetype(found.hrefs.size()));
    for (const char *href : found.hrefs) {
        QString &link = resolved[QByteArrayView(href)];
        if (link.isNull())
            link = resolveHref(QString::fromUtf8(href), base);
        links.append(link);
    }
    return links;
}

} // namespace skarnel
