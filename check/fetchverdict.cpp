#include "fetchverdict.h"

#include <net/pageload.h>

namespace skarnel {

PageVerdict answerVerdict(const PageLoad &fetch)
{
    PageVerdict verdict;
    verdict.httpStatus = fetch.httpStatus();
    verdict.firstRedirect = fetch.redirectKind();
    if (verdict.firstRedirect != RedirectKind::None)
        verdict.finalAddress = fetch.finalAddress();
    if (fetch.keptOut()) {
        verdict.excluded = true;
        verdict.reason = fetch.failureReason();
    } else if (fetch.failed()) {
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
