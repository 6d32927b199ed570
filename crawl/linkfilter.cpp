#include "linkfilter.h"

namespace skarnel {

bool passesLinkFilter(const QString &address, bool fileAddresses)
{
    static const QString http = QStringLiteral("http://");
    static const QString https = QStringLiteral("https://");
    static const QString file = QStringLiteral("file:///");
    if (fileAddresses && address.startsWith(file))
        return address.size() > file.size() && !address.contains(QLatin1Char('#'));
    // The shortest address worth recording is the scheme followed by six characters.
    constexpr qsizetype minimumAfterScheme = 6;

    const qsizetype schemeLength = address.startsWith(http)    ? http.size()
                                   : address.startsWith(https) ? https.size()
                                                               : 0;
    if (schemeLength == 0 || address.size() < schemeLength + minimumAfterScheme)
        return false;
    return !address.contains(QLatin1Char('#'));
}

namespace {

// Whether `start` is an address of a site's root written without its path ("http://example.org",
// "http://127.0.0.1:1808"): nothing follows its host and port.
bool endsAtAuthority(const QString &start)
{
    const qsizetype scheme = start.indexOf(QLatin1String("://"));
    if (scheme <= 0)
        return false;
    for (qsizetype i = scheme + 3; i < start.size(); ++i) {
        const QChar c = start[i];
        if (c == u'/' || c == u'?' || c == u'#' || c == u'\\')
            return false;
    }
    return true;
}

} // namespace

LinkKind classifyLink(const QString &address, const QString &startAddress)
{
    if (!address.startsWith(startAddress))
        return LinkKind::External;
    // A start without a path stands for its root: the host and port end where it ends, so that
    // "http://127.0.0.1:1808" does not take in "http://127.0.0.1:18080/" nor "http://example.org"
    // take in "http://example.org.br/".
    if (address.size() > startAddress.size() && endsAtAuthority(startAddress)) {
        const QChar next = address[startAddress.size()];
        if (next != u'/' && next != u'?' && next != u'#')
            return LinkKind::External;
    }
    return LinkKind::Internal;
}

} // namespace skarnel
