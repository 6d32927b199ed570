// libFuzzer target over the page reading path: a page's bytes and its address in, its resolved
// links, resources and anchors out, each link then put through the crawl's link filter and
// classification.
//
// Input layout: the first line is the page's address, the second its Content-Type, the rest the
// body. A missing line is empty.

#include <crawl/linkfilter.h>
#include <html/htmldecoding.h>
#include <html/htmllinks.h>

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <cstdint>
#include <cstdlib>

using namespace skarnel;

namespace {

// Splits off the text up to the next line break (not included) and advances past it.
QByteArrayView takeLine(QByteArrayView &input)
{
    const qsizetype end = input.indexOf('\n');
    const QByteArrayView line = end < 0 ? input : input.first(end);
    input = end < 0 ? QByteArrayView() : input.sliced(end + 1);
    return line;
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString address = QString::fromUtf8(takeLine(input));
    const QByteArray contentType = takeLine(input).toByteArray();
    const QByteArray body = input.toByteArray();

    // The page loads take only http and https addresses with a host, so only they are the
    // addresses of pages.
    const QUrl page(address, QUrl::TolerantMode);
    if (!page.isValid() || (page.scheme() != u"http" && page.scheme() != u"https")
        || page.host().isEmpty())
        return 0;

    isHtmlContentType(contentType);
    decodeHtml(body, contentType);

    const PageReading reading =
            readPage(body, contentType, page, {.resources = true, .anchors = true});
    // A parse that was stopped gives nothing rather than part of the page.
    require(reading.complete || (reading.links.isEmpty() && reading.anchors.isEmpty()));
    QList<FoundLink> pageLinks;
    for (const FoundLink &link : reading.links) {
        // An empty href is the page's own address, an empty resource is passed over: no address
        // is ever empty.
        require(!link.address.isEmpty());
        if (link.kind == AddressKind::Page)
            pageLinks.append(link);
    }
    for (const QString &anchor : reading.anchors)
        require(!anchor.isEmpty());

    // Reading the resources and anchors leaves the links as they are read alone.
    const PageReading links = readPage(body, contentType, page, {});
    require(!reading.complete || !links.complete || links.links == pageLinks);
    for (const FoundLink &link : links.links) {
        if (passesLinkFilter(link.address))
            classifyLink(link.address, address);
    }
    return 0;
}
