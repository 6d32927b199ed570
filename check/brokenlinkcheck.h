#pragma once

#include <site/checkresults.h>

#include <optional>

namespace skarnel {

class LinkList;
class PageLoad;
class PageLoader;
struct CommandContext;

// The "Check broken links" command: fetches every internal and then every external page as
// text and lists each page whose text contains one of the error texts, or that cannot be
// fetched at all. Each run starts its count and its list from zero.
//
// The run yields before and after each fetch and sleeps in the event loop while a fetch is in
// flight, so the window stays live. A stop request aborts the fetch in flight at once (that page
// counts nothing) and ends the run at its next page. The pages of the next entries are fetched
// ahead, a few at once, and their results taken in list order. Every page is fetched through
// `loader`.
void runBrokenLinkCheck(const CommandContext &command, PageLoader &loader);

// The answer of a page the crawl loaded, for the check to judge in place of fetching it again, when
// it can stand for the check's: a whole answer, not a busy one (429, 503) that the check would
// wait out. The page's text is searched for the `errors` now, while its body is held.
std::optional<HeldAnswer> heldAnswerOf(const PageLoad &load, LinkList &errors);

} // namespace skarnel
