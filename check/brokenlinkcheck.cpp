#include "brokenlinkcheck.h"

#include "fetchverdict.h"

#include <net/pageload.h>
#include <walk/commandcontext.h>
#include <walk/commandhost.h>
#include <walk/eventloop.h>
#include <walk/listwalk.h>
#include <walk/loadsahead.h>
#include <walk/stopflag.h>

#include <QSet>
#include <QUrl>

#include <site/sitemodel.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <utility>

#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

namespace skarnel {

namespace {

#if defined(__SSE2__)
// Of eight characters, those from A to Z: all bits of their lanes set.
__m128i capitals(__m128i chars)
{
    const __m128i fromA = _mm_sub_epi16(chars, _mm_set1_epi16('A'));
    return _mm_cmpeq_epi16(_mm_subs_epu16(fromA, _mm_set1_epi16(25)), _mm_setzero_si128());
}
#endif

// `text` in lower case, exactly as QString::toLower() gives it. Page text is mostly ASCII, which
// lowers one character at a time with no table; text with any other character is left to Qt,
// whose case mapping costs about ten times as much a character. Both passes over an ASCII text
// take eight characters at a time (SSE2), and the rest without a branch a character: lowering a
// page was a fifth of the check's processor time, and a third where the compiler did not turn
// the loops into such steps by itself.
QString lowerCase(const QString &text)
{
    const auto *chars = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype size = text.size();
    char16_t any = 0;
    char16_t upper = 0;
    qsizetype i = 0;
#if defined(__SSE2__)
    __m128i anyHere = _mm_setzero_si128();
    __m128i upperHere = _mm_setzero_si128();
    for (; i + 8 <= size; i += 8) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chars + i));
        anyHere = _mm_or_si128(anyHere, eight);
        upperHere = _mm_or_si128(upperHere, capitals(eight));
    }
    alignas(16) char16_t lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), anyHere);
    for (const char16_t lane : lanes)
        any |= lane;
    upper = char16_t(_mm_movemask_epi8(upperHere) != 0);
#endif
    for (; i < size; ++i) {
        const char16_t c = chars[i];
        any |= c;
        upper |= char16_t(char16_t(c - u'A') < 26u);
    }
    if (any >= 0x80)
        return text.toLower();
    if (!upper)
        return text; // already lower case: shared, not copied

    QString lowered(size, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(lowered.data());
    i = 0;
#if defined(__SSE2__)
    const __m128i step = _mm_set1_epi16(u'a' - u'A');
    for (; i + 8 <= size; i += 8) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chars + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                         _mm_add_epi16(eight, _mm_and_si128(capitals(eight), step)));
    }
#endif
    for (; i < size; ++i) {
        const char16_t c = chars[i];
        out[i] = char16_t(c + (char16_t(c - u'A') < 26u ? u'a' - u'A' : 0));
    }
    return lowered;
}

// Where `text` first contains `wanted`, as QString::indexOf() answers; -1 when it does not. Eight
// places at a time are tested for the text's first and last character both standing where they
// would, and only a place where they do is compared whole. A search for the rarest character
// alone slowed down on pages where that character is common, as digits are.
qsizetype findText(QStringView text, QStringView wanted)
{
    const qsizetype size = wanted.size();
    if (size < 2)
        return text.indexOf(wanted);
    const qsizetype starts = text.size() - size + 1;
    const auto *firsts = reinterpret_cast<const char16_t *>(text.data());
    const char16_t *lasts = firsts + size - 1;
    const char16_t first = wanted.front().unicode();
    const char16_t last = wanted.back().unicode();
    const auto standsAt = [&](qsizetype at) { return text.sliced(at, size) == wanted; };
    qsizetype at = 0;
#if defined(__SSE2__)
    const __m128i firstChar = _mm_set1_epi16(short(first));
    const __m128i lastChar = _mm_set1_epi16(short(last));
    for (; at + 8 <= starts; at += 8) {
        const __m128i firstHere = _mm_loadu_si128(reinterpret_cast<const __m128i *>(firsts + at));
        const __m128i lastHere = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lasts + at));
        auto both = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(firstHere, firstChar),
                                                             _mm_cmpeq_epi16(lastHere, lastChar))));
        while (both) {
            const int bit = std::countr_zero(both);
            if (standsAt(at + bit / 2))
                return at + bit / 2;
            both &= ~(3u << bit); // both bytes of the place
        }
    }
#endif
    for (; at < starts; ++at)
        if (firsts[at] == first && lasts[at] == last && standsAt(at))
            return at;
    return -1;
}

// The characters shown on each side of an error text where it stands in the page.
constexpr qsizetype ExcerptSide = 20;

// `size` characters of `text` from `at`, with ExcerptSide on each side, on one line: a user sees
// at once whether "404" stood in an error message or in a number.
QString excerptAround(QStringView text, qsizetype at, qsizetype size)
{
    const qsizetype from = std::max<qsizetype>(0, at - ExcerptSide);
    const qsizetype to = std::min(text.size(), at + size + ExcerptSide);
    QString excerpt = text.sliced(from, to - from).toString();
    for (QChar &c : excerpt)
        if (c.unicode() < 0x20 || c == QChar(0x7f))
            c = QLatin1Char(' ');
    if (from > 0)
        excerpt.prepend(QChar(0x2026));
    if (to < text.size())
        excerpt.append(QChar(0x2026));
    return excerpt;
}

void recordBroken(SiteModel &site, const LinkList &list)
{
    site.brokenCount.add();
    // The current entry is the page just checked, unless the user selected another meanwhile.
    site.brokenPages.append(list.currentText());
}

struct ShownErrorText
{
    QString text;
    qsizetype at = 0;   // where it first stands in the lower-cased page text
    qsizetype size = 0; // its size there
};

// The first error text that the page text shows, or null. Walks the error list as the user sees
// it, making each text current in turn, and stops at the first one found.
std::optional<ShownErrorText> shownErrorText(LinkList &errors, const QString &lowerPageText)
{
    if (lowerPageText.isEmpty())
        return std::nullopt;
    const qsizetype texts = errors.count();
    for (qsizetype j = 0; j < texts; ++j) {
        if (!errors.setCurrentIndex(j))
            break;
        const QString errorText = errors.currentText();
        const QString lowered = lowerCase(errorText);
        if (const qsizetype at = findText(lowerPageText, lowered); at >= 0)
            return ShownErrorText {errorText, at, lowered.size()};
    }
    return std::nullopt;
}

// A fetch that ran to its end: the verdict on its answer, and the page's text in lower case.
struct Fetched
{
    PageVerdict answer;
    // Judged by its answer alone: an image, a style, a script, ... whose body was not fetched.
    bool answerOnly = false;
    QString text;
    QString lowerText;
    // The names its #fragments can point at, when they were asked for and could be read.
    std::optional<QStringList> anchors;
    // A page judged by the crawl's answer: what its error texts showed then, in place of the text.
    std::optional<QString> heldErrorText;
};

// How the check fetches `address`: a resource by its answer alone, a page whose #fragments are to
// be verified with its anchors when the crawl did not read them, any other page as text.
LoadMode fetchModeOf(const CommandContext &c, const QString &address)
{
    if (c.options.resources && c.site.kindOf(address) != AddressKind::Page)
        return LoadMode::HeadersOnly;
    if (c.options.fragments && c.site.fragments.contains(address)
        && !c.site.anchors.contains(address))
        return LoadMode::TextAndAnchors;
    return LoadMode::Text;
}

// The anchors to verify the #fragments of `address` with: those the crawl read, else those its
// fetch read. Only a page that answers 2xx now has its fragments verified.
std::optional<QStringList> anchorsFor(const SiteModel &site, const QString &address,
                                      const Fetched &fetched)
{
    const int status = fetched.answer.httpStatus;
    if (fetched.answer.broken || status < 200 || status > 299)
        return std::nullopt;
    if (const auto read = site.anchors.constFind(address); read != site.anchors.cend())
        return *read;
    return fetched.anchors;
}

// The page text box shows the start of the page text only. A text box lays out a line in time
// that grows with the square of its length, and a page may well be a single line of megabytes:
// shown whole, it would freeze the window for minutes.
constexpr qsizetype shownPageText = 16 * 1024;

// Waits for the page's fetch and shows the start of its text; nothing when a stop aborted the
// fetch. A fetch of the answer alone has no text to show.
std::optional<Fetched> fetchPageText(const CommandContext &c, const std::unique_ptr<PageLoad> fetch,
                                     bool answerOnly)
{
    if (!waitUntilDoneOrStopped([&] { return fetch->isDone(); }, c.stop))
        return std::nullopt; // the fetch closes its connection as it goes
    Fetched fetched;
    fetched.answer = answerVerdict(*fetch);
    fetched.anchors = fetch->anchors();
    if (fetch->failed() || answerOnly) {
        fetched.answerOnly = answerOnly;
        c.host.clearPageText();
        return fetched;
    }
    fetched.text = fetch->text();
    fetched.lowerText = lowerCase(fetched.text);
    c.host.showPageText(fetched.lowerText.first(std::min(fetched.lowerText.size(), shownPageText)));
    return fetched;
}

// Why the page's text makes it broken ("the text shows ..."), or nothing when no error text shows.
QString errorTextReason(LinkList &errors, const Fetched &fetched)
{
    const std::optional<ShownErrorText> shown = shownErrorText(errors, fetched.lowerText);
    if (!shown)
        return {};
    // Lowering may change the length of a text in some scripts: the excerpt is then taken from the
    // lowered text, where the position holds.
    const QString &source =
            fetched.text.size() == fetched.lowerText.size() ? fetched.text : fetched.lowerText;
    return QStringLiteral("the text shows \"%1\" in \"%2\"")
            .arg(shown->text, excerptAround(source, shown->at, shown->size));
}

// Why the page counts as broken, or nothing when it is fine. An answer of 400 and above is an
// error whatever its body says; the error texts catch the pages that answer 200 with a "not
// found" text of their own.
PageVerdict judge(const Fetched &fetched, LinkList &errors, const RunOptions &options)
{
    PageVerdict verdict = fetched.answer;
    if (verdict.broken && verdict.httpStatus >= 400
        && options.acceptedStatuses.contains(verdict.httpStatus)) {
        verdict.broken = false;
        verdict.reason = QStringLiteral("accepted: HTTP %1").arg(verdict.httpStatus);
        return verdict;
    }
    if (verdict.broken)
        return verdict;
    if (options.strictRedirects && verdict.firstRedirect == RedirectKind::Permanent) {
        verdict.broken = true;
        verdict.reason = QStringLiteral("moved permanently to %1").arg(verdict.finalAddress);
        return verdict;
    }
    // A permanent redirect that names no Location leads nowhere, but it is one all the same.
    if (options.strictRedirects && verdict.firstRedirect == RedirectKind::None
        && (verdict.httpStatus == 301 || verdict.httpStatus == 308)) {
        verdict.broken = true;
        verdict.reason = QStringLiteral("moved permanently (HTTP %1) without saying where")
                                 .arg(verdict.httpStatus);
        return verdict;
    }
    if (fetched.answerOnly)
        return verdict;
    const QString shown =
            fetched.heldErrorText ? *fetched.heldErrorText : errorTextReason(errors, fetched);
    if (!shown.isEmpty()) {
        verdict.broken = true;
        verdict.reason = shown;
    }
    return verdict;
}

// Whether `anchors` hold the one a fragment names: compared exactly, as written and, when it
// differs, percent-decoded.
bool hasAnchor(const QSet<QString> &anchors, const QString &fragment)
{
    if (anchors.contains(fragment))
        return true;
    const QString decoded = QUrl::fromPercentEncoding(fragment.toUtf8());
    return decoded != fragment && anchors.contains(decoded);
}

// Each #fragment the crawl met for `page` that no anchor of the page answers is broken: a line of
// its own, PAGE#name, counted as broken.
void checkFragments(SiteModel &site, const QString &page, int pageStatus,
                    const QStringList &anchors)
{
    const auto fragments = site.fragments.constFind(page);
    if (fragments == site.fragments.cend())
        return;
    const QSet<QString> names(anchors.cbegin(), anchors.cend());
    for (const QString &fragment : *fragments) {
        if (hasAnchor(names, fragment))
            continue;
        const QString whole = page + QLatin1Char('#') + fragment;
        PageVerdict missing;
        missing.broken = true;
        missing.httpStatus = pageStatus;
        missing.reason = QStringLiteral("no anchor #%1 on the page").arg(fragment);
        site.results.record(whole, missing);
        site.brokenCount.add();
        site.brokenPages.append(whole);
    }
}

bool isExcluded(const CommandContext &c, const QString &address)
{
    return !c.options.exclude.pattern().isEmpty() && c.options.exclude.match(address).hasMatch();
}

// The addresses the user keeps out of the check are listed as not checked, for that reason.
void recordExcluded(const CommandContext &c, const LinkList &list)
{
    if (c.options.exclude.pattern().isEmpty())
        return;
    PageVerdict excluded;
    excluded.excluded = true;
    excluded.reason = QStringLiteral("excluded");
    for (const QString &address : list.entries())
        if (isExcluded(c, address))
            c.site.results.record(address, excluded);
}

// `before` pages of the check's `all` came before this list.
void checkPages(const CommandContext &c, PageLoader &loader, LinkList &list, qsizetype before,
                qsizetype all)
{
    // The walk fixes its bound when it begins: entries added while the phase runs are not visited.
    // A page whose answer the crawl holds is not asked again.
    LoadsAhead<PageLoad> ahead(
            [&loader, &c](const QString &address) -> std::unique_ptr<PageLoad> {
                if (c.site.heldAnswers.contains(address))
                    return nullptr;
                return loader.load(address, {.mode = fetchModeOf(c, address)});
            },
            c.stop, c.loadAhead, c.options.perHost);
    ListWalk walk {.list = list, .stop = c.stop, .loads = ahead};
    walk.progress = [&c, before, all](qsizetype index, qsizetype) {
        c.host.progress(QStringLiteral("checking %1 of %2").arg(before + index + 1).arg(all));
    };
    if (!c.options.exclude.pattern().isEmpty())
        walk.passOver = [&c](const QString &address) { return isExcluded(c, address); };

    // A fetch that a stop aborted goes to the next entry at once, without the yield after it.
    std::optional<Fetched> fetched;
    const auto fetch = [&](const QString &address) {
        if (const auto held = c.site.heldAnswers.constFind(address);
            held != c.site.heldAnswers.cend()) {
            fetched.emplace();
            fetched->answer = held->answer;
            fetched->heldErrorText = held->shownErrorText;
            c.site.heldAnswers.erase(held);
            return true;
        }
        fetched = fetchPageText(c, ahead.takeOrStart(address),
                                fetchModeOf(c, address) == LoadMode::HeadersOnly);
        return fetched.has_value();
    };
    const auto judgeFetched = [&](const QString &address) {
        const Fetched page = *std::exchange(fetched, std::nullopt);
        // New may have emptied the list meanwhile: a page that is no longer listed counts nothing.
        if (list.currentIndex() < 0)
            return;
        // The whole text is searched, not only what the text box shows.
        const PageVerdict verdict = judge(page, c.site.errorTexts, c.options);
        c.site.results.record(address, verdict);
        if (verdict.broken)
            recordBroken(c.site, list);
        if (c.options.fragments) {
            if (const std::optional<QStringList> anchors = anchorsFor(c.site, address, page))
                checkFragments(c.site, address, verdict.httpStatus, *anchors);
        }
    };
    walkList(walk, fetch, judgeFetched);
}

} // namespace

std::optional<HeldAnswer> heldAnswerOf(const PageLoad &load, LinkList &errors)
{
    const int status = load.httpStatus();
    if (load.outcome() != LoadOutcome::Complete || status == 429 || status == 503)
        return std::nullopt;
    HeldAnswer held;
    held.answer = answerVerdict(load);
    if (!held.answer.broken) {
        Fetched fetched;
        fetched.text = load.text();
        fetched.lowerText = lowerCase(fetched.text);
        held.shownErrorText = errorTextReason(errors, fetched);
    }
    return held;
}

void runBrokenLinkCheck(const CommandContext &c, PageLoader &loader)
{
    SiteModel &site = c.site;
    c.stop.clear();
    loader.startRun();
    site.brokenCount.reset();
    site.results.clear();
    site.brokenPages.clear();

    recordExcluded(c, site.internal);
    recordExcluded(c, site.external);
    const qsizetype internalPages = site.internal.count();
    const qsizetype all = internalPages + site.external.count();
    checkPages(c, loader, site.internal, 0, all);
    // After a stop in the internal phase the external phase selects its first entry and ends.
    checkPages(c, loader, site.external, internalPages, all);
}

} // namespace skarnel
