#include "fetchverdict.h"

#include <net/internettransfer.h>

namespace skarnel {

namespace {

Redirect redirectOf(RedirectKind kind)
{
    switch (kind) {
    case RedirectKind::None:
        return Redirect::None;
    case RedirectKind::Permanent:
        return Redirect::Permanent;
    case RedirectKind::Temporary:
        return Redirect::Temporary;
    }
    return Redirect::None;
}

} // namespace

PageVerdict answerVerdict(const PageFetch &fetch)
{
    PageVerdict verdict;
    verdict.httpStatus = fetch.httpStatus();
    verdict.firstRedirect = redirectOf(fetch.redirectKind());
    if (verdict.firstRedirect != Redirect::None)
        verdict.finalAddress = fetch.finalAddress();
    if (fetch.failed()) {
        verdict.broken = true;
        verdict.reason = fetch.failureReason().isEmpty() ? QStringLiteral("could not be fetched")
                                                         : fetch.failureReason();
    } else if (verdict.httpStatus >= 400) {
        verdict.broken = true;
        verdict.reason = QStringLiteral("HTTP %1").arg(verdict.httpStatus);
        if (const QString phrase = fetch.statusText(); !phrase.isEmpty())
            verdict.reason += QLatin1Char(' ') + phrase;
    }
    return verdict;
}

} // namespace skarnel
