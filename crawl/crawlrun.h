#pragma once

#include <memory>

namespace skarnel {

class PageLoad;
class PageLoader;
struct CommandContext;

// The Crawl command: records the links of the start page the host names, then those of every
// internal page listed once the start page is done (two levels of the site). Entries added
// meanwhile are recorded but not loaded; a later crawl without New loads them, one level deeper.
// Ends at the first page that finds a stop requested, then enables "Check broken links".
// The pages of the next entries load ahead while one page's links are recorded. Every page is
// loaded from `loader`.
//
// `startPage`, when given, is the start page's load (LoadMode::Page), begun by the caller, which
// asked for it already (the command line's test of the start page): it is crawled in place of
// loading the page again. While each address is asked once a run (RunOptions::askOnce), a page
// that an earlier crawl loaded is not loaded again, the start page included: its links are listed
// already.
//
// With RunOptions::wholeSite the walk goes on over the internal pages it lists until it lists no
// new one, and loads RunOptions::pageLimit pages at most, the start page among them; it returns
// whether it stopped at that limit with pages left to load.
bool runCrawl(const CommandContext &command, PageLoader &loader);
bool runCrawl(const CommandContext &command, PageLoader &loader,
              std::unique_ptr<PageLoad> startPage);

// The Force Stop command: asks the running crawl, check or search to stop at its next test.
void forceStop(const CommandContext &command);

} // namespace skarnel
