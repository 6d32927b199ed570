// libFuzzer target over the readers of the files a site keeps about itself: robots.txt, a sitemap
// fed in pieces, and the mapping of an address to a file of a built folder.
//
// Input layout: the first byte picks the reader (its value modulo 3: robots.txt, sitemap, folder
// address) and, for a sitemap, how it arrives (bit 2: named by an index; the bits above: pieces of
// 1 to 32 bytes); the rest is the file, or the address.

#include <QByteArray>
#include <QUrl>

#include <folder/builtfolder.h>
#include <robots/robotstxt.h>
#include <sitemap/sitemapreader.h>

#include <cstdint>
#include <cstdlib>

using namespace skarnel;
using namespace std::chrono_literals;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void readRobots(QByteArrayView input)
{
    const RobotsTxt rules = RobotsTxt::parse(input);
    require(rules.crawlDelay() >= 0ms && rules.crawlDelay() <= robotsCrawlDelayCap);
    require(rules.accessToPath("/robots.txt") == RobotsTxt::Access::Allowed);
    for (const QByteArrayView path :
         {QByteArrayView("/"), QByteArrayView("/a/b.html?x=1"), QByteArrayView("/%E3%83%84$*"),
          input.first(qMin<qsizetype>(input.size(), 64))})
        rules.accessToPath(path);
    for (const QString &sitemap : rules.sitemaps())
        require(!sitemap.isEmpty());
    for (const int status : {200, 404, 503})
        RobotsTxt::fromAnswer({.status = status, .body = input.toByteArray()}).access(QUrl());
}

void readSitemap(std::uint8_t mode, QByteArrayView input)
{
    const bool namedByIndex = mode & 4;
    const qsizetype piece = (mode >> 3) + 1;
    const SitemapLimits limits {
            .bytes = 32 * 1024, .addresses = 100, .depth = 8, .addressLength = 256};
    SitemapReader reader(QStringLiteral("S"), namedByIndex, limits);
    for (qsizetype at = 0; at < input.size(); at += piece) {
        if (!reader.feed(input.sliced(at, qMin(piece, input.size() - at))))
            break;
    }
    reader.finish();
    require(reader.stopped());
    require(reader.addresses().size() <= limits.addresses);
    require(!reader.error().isEmpty() || reader.kind() != SitemapReader::Kind::Unknown);
    require(!(namedByIndex && reader.kind() == SitemapReader::Kind::Index));
    for (const QString &address : reader.addresses())
        require(!address.isEmpty() && address == address.trimmed()
                && address.size() <= limits.addressLength);
}

void mapFolderAddress(QByteArrayView input)
{
    // A folder that does not exist: nothing is read, only mapped.
    static const QString root = QStringLiteral("/nonexistent-skarnel-fuzz/site");
    const BuiltFolder folder(root, QUrl(QStringLiteral("https://example.test/docs/")));
    const QUrl address(QString::fromUtf8(input), QUrl::TolerantMode);
    const QString path = folder.filePath(address);
    // Whatever the dots and their encodings, the file is inside the folder.
    require(path.isEmpty() || path == root || path.startsWith(root + u'/'));
    require(!path.contains(u"/../") && !path.endsWith(u"/.."));
    require(path.isEmpty() == !folder.contains(address));
    if (folder.contains(address)) {
        const QUrl shown = folder.shown(folder.served(address));
        require(shown.isEmpty() || folder.contains(shown));
    }
    require(!folder.read(address, 16).ok());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0];
    const QByteArrayView input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    switch (mode % 3) {
    case 0:
        readRobots(input);
        break;
    case 1:
        readSitemap(mode, input);
        break;
    default:
        mapFolderAddress(input);
        break;
    }
    return 0;
}
