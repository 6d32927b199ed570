#pragma once

#include <QHash>
#include <QString>

#include <kinds/redirectkind.h>

namespace skarnel {

// What the check found for one page it fetched, or one #fragment it looked for.
struct PageVerdict
{
    bool broken = false;
    // Why the page counts as broken, in words a user reads: "HTTP 404 Not Found", "host not found",
    // "the text shows \"404\"". Empty for a page that is fine, unless something is worth saying
    // of it all the same ("accepted: HTTP 403").
    QString reason;
    // The status of the final answer, after redirects; 0 when no answer arrived.
    int httpStatus = 0;
    // Listed but, as the user asked, not checked: neither broken nor fine.
    bool excluded = false;
    // Where the answer came from when redirects led there, and the kind of the first of them.
    QString finalAddress;
    RedirectKind firstRedirect = RedirectKind::None;
};

// A page's answer as the crawl had it, for the check to judge without asking again: the verdict on
// the answer alone, and the verdict of the error texts on the page's text while it was held (empty
// when the answer is broken, when none shows, or when the answer alone decides).
struct HeldAnswer
{
    PageVerdict answer;
    QString shownErrorText; // "the text shows ..."; empty when none
};

// The verdicts of the pages the last check fetched, by address. Each run starts it afresh, New
// empties it; a page the check has not reached has no verdict.
class CheckResults final
{
public:
    void clear() { verdicts.clear(); }
    void record(const QString &address, const PageVerdict &verdict)
    {
        verdicts.insert(address, verdict);
    }
    // The verdict of `address`, or null when it was not checked.
    const PageVerdict *find(const QString &address) const
    {
        const auto found = verdicts.constFind(address);
        return found == verdicts.cend() ? nullptr : &*found;
    }
    qsizetype size() const { return verdicts.size(); }

private:
    QHash<QString, PageVerdict> verdicts;
};

} // namespace skarnel
