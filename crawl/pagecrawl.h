#pragma once

#include <QString>

class HtmlDocumentService;
struct CrawlWindow;

// Loads one page and records its links: each address that passes the link filter enters the
// internal or the external list unless that list holds it already, and raises the counters. Each
// such link, listed before or not, is noted as found on `pageAddress`.
// Yields to the event loop while the page loads and once after each recorded link.
//
// A page that begins while a stop is requested is skipped untouched. A stop requested while the
// page loads ends the wait, and the links the page holds so far are still recorded. Once a stop is
// requested, the links left to record are recorded without a yield between them.
void crawlPage(CrawlWindow &window, HtmlDocumentService &documents, const QString &pageAddress);
