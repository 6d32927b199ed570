#pragma once

namespace skarnel {

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

} // namespace skarnel
