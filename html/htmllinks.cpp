#include "htmllinks.h"

#include <html/htmldecoding.h>

#include <QDeadlineTimer>
#include <QHash>
#include <QStringDecoder>

#include <gumbo.h>

#include <csetjmp>
#include <cstddef>
#include <memory_resource>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

namespace {

bool isWebScheme(QStringView scheme)
{
    return scheme == u"http" || scheme == u"https";
}

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

// Gumbo allocates from an arena that is released as a whole when the links have been read. A tree
// is never freed node by node (gumbo_destroy_output recurses once per level and overflows the stack
// on a deeply nested page), and a parse that overruns its budget can be abandoned at any
// allocation. Gumbo frees little before the end but the buffers it outgrows; those are the large
// blocks, which are returned as soon as it frees them. Small blocks carry no header: gumbo makes
// millions of them for a large page, and a free that is not of a large block is simply ignored.
struct GumboRun
{
    static constexpr unsigned allocationsPerCheck = 256;
    static constexpr std::size_t largeBlock = 4096;
    static constexpr std::size_t alignment = alignof(std::max_align_t);
    // Gumbo takes some 150 bytes for each element: a page that is little else but elements, 16 MiB
    // of "<p>", would take it over a gigabyte. A page of 200,000 links takes 140 MiB.
    static constexpr std::size_t memoryBudget = std::size_t(192) << 20;

    explicit GumboRun(std::size_t inputSize)
        : smallBlocks(inputSize + largeBlock)
    {
    }
    GumboRun(const GumboRun &) = delete;
    GumboRun &operator=(const GumboRun &) = delete;
    ~GumboRun()
    {
        for (const auto &[block, size] : largeBlocks)
            ::operator delete(block);
    }

    std::pmr::monotonic_buffer_resource smallBlocks;
    std::unordered_map<void *, std::size_t> largeBlocks; // each with its size
    // What gumbo holds: every small block it was given and the large blocks it has not freed.
    std::size_t held = 0;
    QDeadlineTimer deadline;
    const std::atomic<bool> *abandoned = nullptr;
    unsigned allocationsBeforeCheck = allocationsPerCheck;
    std::jmp_buf overrun;
};

void *allocateForGumbo(void *userdata, size_t size)
{
    auto *run = static_cast<GumboRun *>(userdata);
    if (--run->allocationsBeforeCheck == 0) {
        run->allocationsBeforeCheck = GumboRun::allocationsPerCheck;
        // Gumbo is C: no destructor is skipped between here and parse().
        if (run->deadline.hasExpired()
            || (run->abandoned && run->abandoned->load(std::memory_order_relaxed)))
            std::longjmp(run->overrun, 1);
    }
    run->held += size;
    if (run->held > GumboRun::memoryBudget)
        std::longjmp(run->overrun, 1);
    if (size >= GumboRun::largeBlock) {
        void *block = ::operator new(size);
        run->largeBlocks.emplace(block, size);
        return block;
    }
    return run->smallBlocks.allocate(size, GumboRun::alignment);
}

void freeForGumbo(void *userdata, void *pointer)
{
    auto *run = static_cast<GumboRun *>(userdata);
    const auto large = run->largeBlocks.find(pointer);
    if (large == run->largeBlocks.end())
        return;
    run->held -= large->second;
    ::operator delete(pointer);
    run->largeBlocks.erase(large);
}

// The parse tree of `html` (UTF-8), which lives as long as `run`, or null when the budget ran out.
const GumboOutput *parse(GumboRun &run, QByteArrayView html)
{
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = allocateForGumbo;
    options.deallocator = freeForGumbo;
    options.userdata = &run;
    options.max_errors = 0;
    if (setjmp(run.overrun) != 0)
        return nullptr;
    return gumbo_parse_with_options(&options, html.data(), size_t(html.size()));
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

    GumboRun run(std::size_t(html.size()));
    run.deadline = QDeadlineTimer(parseBudget);
    run.abandoned = abandoned;
    const GumboOutput *output = parse(run, html);
    if (!output)
        return {};
    const FoundLinks found = findLinks(output->document);

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
