#include "htmllinks.h"

#include <html/htmldecoding.h>

#include <QDeadlineTimer>
#include <QHash>
#include <QStringDecoder>

#include <gumbo.h>
#include <sys/mman.h>

#include <condition_variable>
#include <csetjmp>
#include <cstddef>
#include <functional>
#include <memory_resource>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

namespace skarnel {

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

// The memory that the parses under way hold together, whatever thread each runs on: one budget,
// so that pages read side by side take no more than one page could. A parse draws from it in
// quanta, so that the threads seldom meet on the counter, and a page of ordinary size takes one.
class ParseMemory
{
public:
    // Gumbo takes some 150 bytes for each element: a page that is little else but elements, 16 MiB
    // of "<p>", would take it over a gigabyte. A page of 200,000 links takes 140 MiB.
    static constexpr std::size_t budget = std::size_t(192) << 20;
    static constexpr std::size_t quantum = std::size_t(1) << 20;

    bool draw(std::size_t bytes)
    {
        std::size_t used = inUse.load(std::memory_order_relaxed);
        do {
            if (bytes > budget - used)
                return false;
        } while (!inUse.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
        return true;
    }
    void giveBack(std::size_t bytes) { inUse.fetch_sub(bytes, std::memory_order_relaxed); }

    // A parse holds a turn for as long as its tree lives. A shared turn runs beside others; a turn
    // of its own, taken by a parse that the others left short of memory, begins once they have
    // ended and holds the next ones back meanwhile, so that a page's links never depend on which
    // pages are read with it. Waiting ends early, without the turn, once `stop` says so.
    bool enter(bool alone, const std::function<bool()> &stop)
    {
        std::unique_lock lock(mutex);
        if (alone)
            ++waitingAlone;
        const auto free = [&] {
            return !runningAlone && (alone ? runningShared == 0 : waitingAlone == 0);
        };
        while (!free() && !stop())
            changed.wait_for(lock, std::chrono::milliseconds(20));
        if (alone)
            --waitingAlone;
        const bool entered = free();
        if (entered)
            ++(alone ? runningAlone : runningShared);
        lock.unlock();
        changed.notify_all();
        return entered;
    }
    void leave(bool alone)
    {
        {
            const std::lock_guard lock(mutex);
            --(alone ? runningAlone : runningShared);
        }
        changed.notify_all();
    }

private:
    std::atomic<std::size_t> inUse = 0;
    std::mutex mutex;
    std::condition_variable changed;
    int runningShared = 0;
    int runningAlone = 0;
    int waitingAlone = 0;
};

// Never destroyed: a parse still running on a pool thread as the process exits goes on using it.
ParseMemory &parseMemory()
{
    static auto *memory = new ParseMemory;
    return *memory;
}

// Blocks of a mebibyte and more are mapped from the system and unmapped when let go. Parses on
// different threads allocate from different malloc arenas, which keep what they are given back:
// a parse would leave its arena holding the memory that a parse on the next thread then takes
// again, and the process twice the budget.
void *allocateBlock(std::size_t size)
{
    if (size < ParseMemory::quantum)
        return ::operator new(size);
    void *block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    return block;
}

void freeBlock(void *block, std::size_t size)
{
    if (size < ParseMemory::quantum)
        ::operator delete(block);
    else
        ::munmap(block, size);
}

class BlockResource final : public std::pmr::memory_resource
{
    void *do_allocate(std::size_t size, std::size_t) override { return allocateBlock(size); }
    void do_deallocate(void *block, std::size_t size, std::size_t) override
    {
        freeBlock(block, size);
    }
    bool do_is_equal(const std::pmr::memory_resource &other) const noexcept override
    {
        return this == &other;
    }
};

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

    GumboRun(std::size_t inputSize, QDeadlineTimer deadline, const std::atomic<bool> *abandoned)
        : smallBlocks(inputSize + largeBlock, &blocks)
        , deadline(deadline)
        , abandoned(abandoned)
    {
    }
    GumboRun(const GumboRun &) = delete;
    GumboRun &operator=(const GumboRun &) = delete;
    ~GumboRun()
    {
        for (const auto &[block, size] : largeBlocks)
            freeBlock(block, size);
        parseMemory().giveBack(drawn);
    }

    BlockResource blocks;
    std::pmr::monotonic_buffer_resource smallBlocks;
    std::unordered_map<void *, std::size_t> largeBlocks; // each with its size
    // What gumbo holds: every small block it was given and the large blocks it has not freed.
    std::size_t held = 0;
    // What this run has drawn from parseMemory(), in quanta: never less than `held`.
    std::size_t drawn = 0;
    // Set when the run stopped for want of memory that the other parses held.
    bool crowdedOut = false;
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
    if (run->held > run->drawn) {
        const std::size_t more = (run->held - run->drawn + ParseMemory::quantum - 1)
                                 / ParseMemory::quantum * ParseMemory::quantum;
        if (!parseMemory().draw(more)) {
            run->crowdedOut = run->held <= ParseMemory::budget;
            std::longjmp(run->overrun, 1);
        }
        run->drawn += more;
    }
    if (size >= GumboRun::largeBlock) {
        void *block = allocateBlock(size);
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
    freeBlock(pointer, large->second);
    run->largeBlocks.erase(large);
    // What is freed goes back to the other parses once it comes to a few quanta.
    if (run->drawn - run->held >= 4 * ParseMemory::quantum) {
        const std::size_t spare =
                (run->drawn - run->held) / ParseMemory::quantum * ParseMemory::quantum;
        parseMemory().giveBack(spare);
        run->drawn -= spare;
    }
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

// A parse's turn at parseMemory(), held from the parse to the end of its tree.
class ParseTurn
{
public:
    ParseTurn(bool alone, const std::function<bool()> &stop)
        : alone(alone)
        , entered(parseMemory().enter(alone, stop))
    {
    }
    ParseTurn(const ParseTurn &) = delete;
    ParseTurn &operator=(const ParseTurn &) = delete;
    ~ParseTurn()
    {
        if (entered)
            parseMemory().leave(alone);
    }

    const bool alone;
    const bool entered;
};

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

    const QDeadlineTimer deadline(parseBudget);
    const auto stop = [&] {
        return deadline.hasExpired() || (abandoned && abandoned->load(std::memory_order_relaxed));
    };
    // A parse that the others left short of memory is given up and made again alone.
    std::optional<ParseTurn> turn;
    std::optional<GumboRun> run;
    const GumboOutput *output = nullptr;
    for (const bool alone : {false, true}) {
        run.reset();
        turn.reset();
        turn.emplace(alone, stop);
        if (!turn->entered)
            return {};
        run.emplace(std::size_t(html.size()), deadline, abandoned);
        output = parse(*run, html);
        if (output || !run->crowdedOut)
            break;
    }
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

} // namespace skarnel
