#pragma once

#include <QString>

#include <memory>

namespace skarnel {

class PageLoad;
struct CommandContext;

// Records the links of one page as its document loads: each address that passes the link filter
// enters the internal or the external list unless that list holds it already, and raises the
// counters. Each such link, listed before or not, is noted as found on `pageAddress`.
// Sleeps in the event loop while the page loads and yields once after each recorded link.
//
// `load` is the page's (LoadMode::Page), started by the caller from the one loader it uses: the
// window's own for the start page, the loads ahead of the walk for the others.
// A page that begins while a stop is requested is skipped untouched. A stop requested while the
// page loads ends the wait, and the links the page holds so far are still recorded. Once a stop is
// requested, the links left to record are recorded without a yield between them.
// While each address is asked once a run, a page loaded to its end is noted as loaded, and its
// answer is held for the check when it can stand for the check's (see heldAnswerOf()).
void crawlPage(const CommandContext &command, std::unique_ptr<PageLoad> load,
               const QString &pageAddress);

} // namespace skarnel
