#include "linkfilter.h"

namespace skarnel {

bool passesLinkFilter(const QString &address)
{
    static const QString http = QStringLiteral("http://");
    static const QString https = QStringLiteral("https://");
    // The shortest address worth recording is the scheme followed by six characters.
    constexpr qsizetype minimumAfterScheme = 6;

    const qsizetype schemeLength = address.startsWith(http)    ? http.size()
                                   : address.startsWith(https) ? https.size()
                                                               : 0;
    if (schemeLength == 0 || address.size() < schemeLength + minimumAfterScheme)
        return false;
    return !address.contains(QLatin1Char('#'));
}

LinkKind classifyLink(const QString &address, const QString &startAddress)
{
    return address.startsWith(startAddress) ? LinkKind::Internal : LinkKind::External;
}

} // namespace skarnel
