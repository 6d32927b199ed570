#pragma once

#include <QString>

class HtmlDocumentService;
struct ReferrerWindow;

// The "Find links" command: loads every internal page listed when it starts and appends a line
// for each link on it whose address is exactly the one looked for (letter case significant,
// nothing trimmed): a page that links to it twice is listed twice.
void findReferringPages(ReferrerWindow &window);

// One page of the search: loads the page, waits for it (a stop request ends the wait and the
// links read so far are still compared) and appends the page's address for every match.
void scanPageForLink(ReferrerWindow &window, HtmlDocumentService &documents, const QString &pageAddress);
