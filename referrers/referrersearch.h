#pragma once

namespace skarnel {

class PageLoader;
struct CommandContext;

// The "Find links" command: loads every internal page listed when it starts and appends a line
// for each link on it whose address is exactly the one looked for (letter case significant,
// nothing trimmed): a page that links to it twice is listed twice. Every page is loaded from
// `loader`.
void findReferringPages(const CommandContext &command, PageLoader &loader);

} // namespace skarnel
