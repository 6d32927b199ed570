#include "htmllinks.h"

#include <html/htmldecoding.h>
#include <html/parsememory.h>
#include <html/srcset.h>
#include <html/webaddress.h>

#include <QDeadlineTimer>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <gumbo.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <optional>
#include <vector>

namespace skarnel {

namespace {

bool isAsciiWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
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
// An attribute that holds addresses of the page, read once the page's base address is known.
struct FoundAttribute
{
    const char *value = nullptr;
    AddressKind kind = AddressKind::Page;
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
std::optional<AddressKind> kindOfSource(const GumboNode &source)
{
    const GumboNode *parent = source.parent;
    if (!parent || parent->type != GUMBO_NODE_ELEMENT
        || parent->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return std::nullopt;
    if (parent->v.element.tag == GUMBO_TAG_VIDEO || parent->v.element.tag == GUMBO_TAG_AUDIO)
        return AddressKind::Media;
    if (isPicture(parent->v.element))
        return AddressKind::Image;
    return std::nullopt;
}

// The kind of the address of a `link` element, by the first of its rels that has one.
std::optional<AddressKind> kindOfLink(const GumboElement &element)
{
    static constexpr QByteArrayView otherRels[] = {
            "manifest", "preload", "modulepreload", "prefetch", "alternate", "canonical",
            "author",   "help",    "license",       "next",     "prev",      "search"};
    std::optional<AddressKind> kind;
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
            return AddressKind::Style;
        if (isWordInAnyCase(rel, "icon") || isWordInAnyCase(rel, "apple-touch-icon"))
            kind = AddressKind::Image;
        else if (!kind
                 && std::any_of(std::begin(otherRels), std::end(otherRels),
                                [&](QByteArrayView other) { return isWordInAnyCase(rel, other); }))
            kind = AddressKind::Other;
    }
    if (!kind && attributeValue(element, "rev"))
        kind = AddressKind::Other;
    return kind;
}

void addResource(FoundInPage &found, const GumboElement &element, const char *name,
                 AddressKind kind)
{
    if (const char *value = attributeValue(element, name); value && !isBlank(value))
        found.links.push_back({value, kind});
}

void addSrcset(FoundInPage &found, const GumboElement &element, AddressKind kind)
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
        addResource(found, element, "src", AddressKind::Image);
        addSrcset(found, element, AddressKind::Image);
        break;
    case GUMBO_TAG_INPUT:
        if (const char *type = attributeValue(element, "type");
            type && isWordInAnyCase(type, "image"))
            addResource(found, element, "src", AddressKind::Image);
        break;
    case GUMBO_TAG_SOURCE:
        if (const std::optional<AddressKind> kind = kindOfSource(node)) {
            addResource(found, element, "src", *kind);
            addSrcset(found, element, *kind);
        }
        break;
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_AUDIO:
        addResource(found, element, "src", AddressKind::Media);
        addResource(found, element, "poster", AddressKind::Media);
        break;
    case GUMBO_TAG_TRACK:
        addResource(found, element, "src", AddressKind::Media);
        break;
    case GUMBO_TAG_SCRIPT:
        addResource(found, element, "src", AddressKind::Script);
        break;
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_FRAME:
        addResource(found, element, "src", AddressKind::Frame);
        break;
    case GUMBO_TAG_OBJECT:
        addResource(found, element, "data", AddressKind::Other);
        break;
    case GUMBO_TAG_EMBED:
        addResource(found, element, "src", AddressKind::Other);
        break;
    case GUMBO_TAG_LINK:
        if (const std::optional<AddressKind> kind = kindOfLink(element))
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
                        found.links.push_back({href, AddressKind::Page});
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
        const QByteArrayView srcset(attribute.value);
        qsizetype at = 0;
        while (const std::optional<QByteArrayView> candidate = nextSrcsetCandidate(srcset, at)) {
            stopped = wasAbandoned();
            if (stopped)
                break;
            Resolved &entry = resolve(*candidate);
            if (entry.srcset == i)
                continue;
            entry.srcset = i;
            reading.links.append({entry.address, attribute.kind});
        }
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
