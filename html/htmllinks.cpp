#include "htmllinks.h"

#include <html/htmldecoding.h>
#include <html/parsememory.h>
#include <html/webaddress.h>

#include <QDeadlineTimer>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <gumbo.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <iterator>
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

bool isAsciiWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether `text` is `word`, which is in lower case, in any case of ASCII letters.
bool isWordInAnyCase(QByteArrayView text, QByteArrayView word)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return text.size() == word.size()
           && std::equal(text.begin(), text.end(), word.begin(),
                         [&](char a, char b) { return lower(a) == b; });
}

// Whether an attribute holds no address: resolveHref() ignores spaces and control characters.
bool isBlank(const char *value)
{
    for (; *value; ++value) {
        if (static_cast<unsigned char>(*value) > 0x20)
            return false;
    }
    return true;
}

bool isNonNegativeInteger(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit);
}

qsizetype firstSignificantDigit(QByteArrayView digits)
{
    const auto found = std::find_if(digits.begin(), digits.end(), [](char c) { return c != '0'; });
    return found == digits.end() ? -1 : found - digits.begin();
}

// Whether `text` is a valid floating-point number, as HTML writes them, whose value is not negative
// and stays finite once rounded to a double: a pixel density a browser takes.
bool isDensity(QByteArrayView text)
{
    qsizetype at = 0;
    const auto skipDigits = [&] {
        const qsizetype start = at;
        while (at < text.size() && isDigit(text[at]))
            ++at;
        return text.sliced(start, at - start);
    };
    const bool negative = text.startsWith('-');
    if (negative)
        ++at;
    const QByteArrayView integer = skipDigits();
    QByteArrayView fraction;
    if (at < text.size() && text[at] == '.') {
        ++at;
        fraction = skipDigits();
        if (fraction.isEmpty())
            return false;
    }
    if (integer.isEmpty() && fraction.isEmpty())
        return false;
    qint64 exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        const bool exponentNegative = at < text.size() && text[at] == '-';
        if (at < text.size() && (text[at] == '-' || text[at] == '+'))
            ++at;
        const QByteArrayView digits = skipDigits();
        if (digits.isEmpty())
            return false;
        // Held far past the range of a double either way: only the way matters.
        for (const char digit : digits)
            exponent = std::min<qint64>(exponent * 10 + (digit - '0'), 1'000'000);
        if (exponentNegative)
            exponent = -exponent;
    }
    if (at != text.size())
        return false;

    // The power of ten of the first significant digit: only a value of 10^308 and more can be too
    // large for a double, and only such a value is converted to find out.
    qint64 power = 0;
    if (const qsizetype first = firstSignificantDigit(integer); first >= 0)
        power = integer.size() - 1 - first;
    else if (const qsizetype first = firstSignificantDigit(fraction); first >= 0)
        power = -1 - first;
    else
        return true; // zero, whatever its sign
    if (negative)
        return false;
    if (power + exponent < 308)
        return true;
    double value = 0;
    return std::from_chars(text.begin(), text.end(), value).ec == std::errc();
}

// The descriptors of one srcset candidate, checked as they are read: at most one width ("100w"),
// or else one density ("1.5x"), and a height ("50h") only beside a width.
class SrcsetDescriptors
{
public:
    void add(QByteArrayView descriptor)
    {
        const char unit = descriptor.back();
        const QByteArrayView value = descriptor.chopped(1);
        if (unit == 'w' && isNonNegativeInteger(value)) {
            wrong = wrong || width || density || firstSignificantDigit(value) < 0;
            width = true;
        } else if (unit == 'x') {
            wrong = wrong || width || density || height || !isDensity(value);
            density = true;
        } else if (unit == 'h' && isNonNegativeInteger(value)) {
            wrong = wrong || height || density || firstSignificantDigit(value) < 0;
            height = true;
        } else {
            wrong = true;
        }
    }
    bool valid() const { return !wrong && (width || !height); }

private:
    bool width = false;
    bool density = false;
    bool height = false;
    bool wrong = false;
};

// Reads the descriptors of a srcset candidate from `at`, just after its address, into
// `descriptors`, and returns where the next candidate begins: past the comma that ends these
// descriptors outside parentheses, or the end.
qsizetype readSrcsetDescriptors(QByteArrayView srcset, qsizetype at, SrcsetDescriptors &descriptors)
{
    enum class State { InDescriptor, InParentheses, AfterDescriptor };
    State state = State::InDescriptor;
    qsizetype start = -1; // of the descriptor being read
    const auto endDescriptor = [&](qsizetype end) {
        if (start >= 0)
            descriptors.add(srcset.sliced(start, end - start));
        start = -1;
    };
    while (at < srcset.size()) {
        const char c = srcset[at];
        if (state == State::AfterDescriptor) {
            if (!isAsciiWhitespace(c)) {
                state = State::InDescriptor;
                continue;
            }
        } else if (state == State::InParentheses) {
            if (c == ')')
                state = State::InDescriptor;
        } else if (isAsciiWhitespace(c)) {
            endDescriptor(at);
            state = State::AfterDescriptor;
        } else if (c == ',') {
            endDescriptor(at);
            return at + 1;
        } else {
            if (start < 0)
                start = at;
            if (c == '(')
                state = State::InParentheses;
        }
        ++at;
    }
    endDescriptor(at);
    return at;
}

// Calls `found` with the address of each candidate of a srcset attribute, in order, as a browser
// reads them: an address runs from the first character that is neither a space nor a comma to the
// next space, less the commas it ends with, which end the candidate; otherwise its descriptors
// follow up to a comma outside parentheses. A candidate with wrong descriptors is passed over. In
// time linear in the attribute's length.
template<typename Found>
void forEachSrcsetCandidate(QByteArrayView srcset, const Found &found)
{
    qsizetype at = 0;
    for (;;) {
        while (at < srcset.size() && (isAsciiWhitespace(srcset[at]) || srcset[at] == ','))
            ++at;
        if (at == srcset.size())
            return;
        const qsizetype start = at;
        while (at < srcset.size() && !isAsciiWhitespace(srcset[at]))
            ++at;
        QByteArrayView address = srcset.sliced(start, at - start);
        if (address.endsWith(',')) {
            while (address.endsWith(','))
                address.chop(1);
            found(address);
            continue;
        }
        SrcsetDescriptors descriptors;
        at = readSrcsetDescriptors(srcset, at, descriptors);
        if (descriptors.valid())
            found(address);
    }
}

// An attribute that holds addresses of the page, read once the page's base address is known.
struct FoundAttribute
{
    const char *value = nullptr;
    ResourceKind kind = ResourceKind::Page;
    bool srcset = false;
};

struct FoundInPage
{
    std::vector<FoundAttribute> links;
    std::vector<const char *> anchors;
    const char *baseHref = nullptr;
};

const char *attributeValue(const GumboElement &element, const char *name)
{
    const GumboAttribute *attribute = gumbo_get_attribute(&element.attributes, name);
    return attribute ? attribute->value : nullptr;
}

// Gumbo has no tag of its own for `picture`: its name is read from the start tag as written.
bool isPicture(const GumboElement &element)
{
    constexpr QByteArrayView name = "picture";
    const QByteArrayView tag(element.original_tag.data, qsizetype(element.original_tag.length));
    if (element.tag != GUMBO_TAG_UNKNOWN || tag.size() < name.size() + 2 || tag[0] != '<'
        || !isWordInAnyCase(tag.sliced(1, name.size()), name))
        return false;
    const char after = tag[name.size() + 1];
    return isAsciiWhitespace(after) || after == '/' || after == '>';
}

// The kind of the addresses of a `source` element, whose parent says what it is a source of.
std::optional<ResourceKind> kindOfSource(const GumboNode &source)
{
    const GumboNode *parent = source.parent;
    if (!parent || parent->type != GUMBO_NODE_ELEMENT
        || parent->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return std::nullopt;
    if (parent->v.element.tag == GUMBO_TAG_VIDEO || parent->v.element.tag == GUMBO_TAG_AUDIO)
        return ResourceKind::Media;
    if (isPicture(parent->v.element))
        return ResourceKind::Image;
    return std::nullopt;
}

// The kind of the address of a `link` element, by the first of its rels that has one.
std::optional<ResourceKind> kindOfLink(const GumboElement &element)
{
    static constexpr QByteArrayView otherRels[] = {
            "manifest", "preload", "modulepreload", "prefetch", "alternate", "canonical",
            "author",   "help",    "license",       "next",     "prev",      "search"};
    std::optional<ResourceKind> kind;
    const QByteArrayView rels(attributeValue(element, "rel"));
    qsizetype at = 0;
    while (at < rels.size()) {
        while (at < rels.size() && isAsciiWhitespace(rels[at]))
            ++at;
        const qsizetype start = at;
        while (at < rels.size() && !isAsciiWhitespace(rels[at]))
            ++at;
        const QByteArrayView rel = rels.sliced(start, at - start);
        if (isWordInAnyCase(rel, "stylesheet"))
            return ResourceKind::Style;
        if (isWordInAnyCase(rel, "icon") || isWordInAnyCase(rel, "apple-touch-icon"))
            kind = ResourceKind::Image;
        else if (!kind
                 && std::any_of(std::begin(otherRels), std::end(otherRels),
                                [&](QByteArrayView other) { return isWordInAnyCase(rel, other); }))
            kind = ResourceKind::Other;
    }
    if (!kind && attributeValue(element, "rev"))
        kind = ResourceKind::Other;
    return kind;
}

void addResource(FoundInPage &found, const GumboElement &element, const char *name,
                 ResourceKind kind)
{
    if (const char *value = attributeValue(element, name); value && !isBlank(value))
        found.links.push_back({value, kind});
}

void addSrcset(FoundInPage &found, const GumboElement &element, ResourceKind kind)
{
    if (const char *value = attributeValue(element, "srcset"))
        found.links.push_back({value, kind, true});
}

// The resources of an element of the HTML namespace.
void addResources(FoundInPage &found, const GumboNode &node)
{
    const GumboElement &element = node.v.element;
    switch (element.tag) {
    case GUMBO_TAG_IMG:
        addResource(found, element, "src", ResourceKind::Image);
        addSrcset(found, element, ResourceKind::Image);
        break;
    case GUMBO_TAG_INPUT:
        if (const char *type = attributeValue(element, "type");
            type && isWordInAnyCase(type, "image"))
            addResource(found, element, "src", ResourceKind::Image);
        break;
    case GUMBO_TAG_SOURCE:
        if (const std::optional<ResourceKind> kind = kindOfSource(node)) {
            addResource(found, element, "src", *kind);
            addSrcset(found, element, *kind);
        }
        break;
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_AUDIO:
        addResource(found, element, "src", ResourceKind::Media);
        addResource(found, element, "poster", ResourceKind::Media);
        break;
    case GUMBO_TAG_TRACK:
        addResource(found, element, "src", ResourceKind::Media);
        break;
    case GUMBO_TAG_SCRIPT:
        addResource(found, element, "src", ResourceKind::Script);
        break;
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_FRAME:
        addResource(found, element, "src", ResourceKind::Frame);
        break;
    case GUMBO_TAG_OBJECT:
        addResource(found, element, "data", ResourceKind::Other);
        break;
    case GUMBO_TAG_EMBED:
        addResource(found, element, "src", ResourceKind::Other);
        break;
    case GUMBO_TAG_LINK:
        if (const std::optional<ResourceKind> kind = kindOfLink(element))
            addResource(found, element, "href", *kind);
        break;
    default:
        break;
    }
}

void addAnchors(FoundInPage &found, const GumboElement &element)
{
    if (const char *id = attributeValue(element, "id"); id && *id)
        found.anchors.push_back(id);
    if (element.tag == GUMBO_TAG_A && element.tag_namespace == GUMBO_NAMESPACE_HTML) {
        if (const char *name = attributeValue(element, "name"); name && *name)
            found.anchors.push_back(name);
    }
}

FoundInPage findInPage(const GumboNode *document, PageReadOptions options)
{
    FoundInPage found;
    std::vector<const GumboNode *> pending {document};
    while (!pending.empty()) {
        const GumboNode *node = pending.back();
        pending.pop_back();
        const GumboVector *children = &node->v.document.children;
        if (node->type != GUMBO_NODE_DOCUMENT) {
            const GumboElement &element = node->v.element;
            if (options.anchors)
                addAnchors(found, element);
            // A template element is in the document, its contents are not.
            if (node->type == GUMBO_NODE_TEMPLATE)
                continue;
            children = &element.children;
            if (element.tag_namespace == GUMBO_NAMESPACE_HTML) {
                if (element.tag == GUMBO_TAG_A || element.tag == GUMBO_TAG_AREA) {
                    if (const char *href = attributeValue(element, "href"))
                        found.links.push_back({href, ResourceKind::Page});
                } else if (element.tag == GUMBO_TAG_BASE && !found.baseHref) {
                    found.baseHref = attributeValue(element, "href");
                } else if (options.resources) {
                    addResources(found, *node);
                }
            }
        }
        // Templates are visited only for their own anchors; text has neither links nor anchors.
        for (unsigned i = children->length; i-- > 0;) {
            const auto *child = static_cast<const GumboNode *>(children->data[i]);
            if (child->type == GUMBO_NODE_ELEMENT
                || (child->type == GUMBO_NODE_TEMPLATE && options.anchors))
                pending.push_back(child);
        }
    }
    return found;
}

// The text of a page in UTF-8, as gumbo reads it: a UTF-8 page as it is, less its byte order mark
// (gumbo replaces invalid sequences itself), any other converted into `converted`.
QByteArrayView utf8Html(const QByteArray &body, const QByteArray &contentType,
                        QByteArray &converted)
{
    QStringDecoder decoder = htmlDecoder(body, contentType);
    if (qstrcmp(decoder.name(), "UTF-8") == 0)
        return body.startsWith("\xEF\xBB\xBF") ? QByteArrayView(body).sliced(3) : body;
    converted = QString(decoder.decode(body)).toUtf8();
    return converted;
}

// An attribute's value as gumbo gives it, in valid UTF-8, all of it: QString::fromUtf8() drops a
// U+FEFF at the start.
QString textOf(QByteArrayView value)
{
    if (!value.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(value);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(value);
}

QUrl baseAddress(const char *baseHref, const QUrl &documentAddress)
{
    if (baseHref) {
        const QUrl declared(resolveHref(textOf(baseHref), documentAddress), QUrl::TolerantMode);
        if (declared.isValid() && isWebScheme(declared.scheme()) && !declared.host().isEmpty())
            return declared;
    }
    return documentAddress;
}

PageReading incompleteReading()
{
    PageReading reading;
    reading.complete = false;
    return reading;
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

PageReading readPage(const QByteArray &body, const QByteArray &contentType,
                     const QUrl &documentAddress, PageReadOptions options,
                     std::chrono::milliseconds parseBudget, const std::atomic<bool> *abandoned)
{
    QByteArray converted;
    const QByteArrayView html = utf8Html(body, contentType, converted);
    // The addresses found point into the tree, which lives until they have been read.
    const ParsedHtml parsed(html, QDeadlineTimer(parseBudget), abandoned);
    if (!parsed.document())
        return incompleteReading();
    const FoundInPage found = findInPage(parsed.document(), options);
    const QUrl base = baseAddress(found.baseHref, documentAddress);

    // Pages repeat their addresses ("#", "/", menus); each is resolved once. An address is given
    // once by a srcset, the last it was found in.
    struct Resolved
    {
        QString address;
        std::size_t srcset = std::size_t(-1);
    };
    QHash<QByteArrayView, Resolved> resolved;
    const auto resolve = [&](QByteArrayView text) -> Resolved & {
        Resolved &entry = resolved[text];
        if (entry.address.isNull())
            entry.address = resolveHref(textOf(text), base);
        return entry;
    };
    // Resolving the addresses of a large page takes a while too.
    unsigned untilCheck = 0;
    const auto wasAbandoned = [&] {
        if (!abandoned || ++untilCheck % 1024 != 0)
            return false;
        return abandoned->load(std::memory_order_relaxed);
    };

    PageReading reading;
    reading.links.reserve(qsizetype(found.links.size()));
    bool stopped = false;
    for (std::size_t i = 0; i < found.links.size() && !stopped; ++i) {
        const FoundAttribute &attribute = found.links[i];
        if (!attribute.srcset) {
            stopped = wasAbandoned();
            reading.links.append({resolve(attribute.value).address, attribute.kind});
            continue;
        }
        forEachSrcsetCandidate(attribute.value, [&](QByteArrayView candidate) {
            stopped = stopped || wasAbandoned();
            if (stopped)
                return;
            Resolved &entry = resolve(candidate);
            if (entry.srcset == i)
                return;
            entry.srcset = i;
            reading.links.append({entry.address, attribute.kind});
        });
    }
    if (stopped)
        return incompleteReading();

    QSet<QByteArrayView> named;
    reading.anchors.reserve(qsizetype(found.anchors.size()));
    for (const char *anchor : found.anchors) {
        const qsizetype before = named.size();
        named.insert(anchor);
        if (named.size() != before)
            reading.anchors.append(textOf(anchor));
    }
    return reading;
}

QStringList readLinks(const QByteArray &body, const QByteArray &contentType,
                      const QUrl &documentAddress, std::chrono::milliseconds parseBudget,
                      const std::atomic<bool> *abandoned)
{
    PageReading reading = readPage(body, contentType, documentAddress, {}, parseBudget, abandoned);
    QStringList links;
    links.reserve(reading.links.size());
    for (FoundLink &link : reading.links)
        links.append(std::move(link.address));
    return links;
}

} // namespace skarnel
