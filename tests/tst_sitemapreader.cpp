#include "support/gzip.h"

#include <QTest>

#include <sitemap/sitemapreader.h>

using namespace skarnel;

class SitemapReaderTest final : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void count_stopsAtTheRunsLimit();
};

namespace {

const QByteArray urlsetStart = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\" "
                               "xmlns:image=\"http://www.google.com/schemas/sitemap-image/1.1\">";

QByteArray urlset(int count)
{
    QByteArray xml = urlsetStart;
    for (int i = 0; i < count; ++i)
        xml.append("<url><loc>http://example.test/" + QByteArray::number(i) + "</loc></url>");
    return xml + "</urlset>";
}

QStringList addresses(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(QStringLiteral("http://example.test/%1").arg(i));
    return list;
}

} // namespace

void SitemapReaderTest::read_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("namedByIndex");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("addressCap");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("error");

    const int urls = int(SitemapReader::Kind::UrlSet);
    const int index = int(SitemapReader::Kind::Index);
    const int unknown = int(SitemapReader::Kind::Unknown);
    const QByteArray pages =
            urlsetStart
            + "<url><loc>\n  http://example.test/a.html  </loc><lastmod>2024-01-01</lastmod>"
              "<image:image><image:loc>http://example.test/a.png</image:loc></image:image></url>"
              "<url><loc></loc></url><url><loc>http://example.test/b?x=1&amp;y=2</loc></url>"
              "</urlset>";
    const QStringList pageAddresses {"http://example.test/a.html", "http://example.test/b?x=1&y=2"};
    QTest::newRow("urlset, a byte at a time")
            << pages << false << 1 << 50000 << urls << pageAddresses << QString();
    QTest::newRow("urlset at once")
            << pages << false << 100000 << 50000 << urls << pageAddresses << QString();
    QTest::newRow("gzip urlset in small pieces")
            << gzip(pages) << false << 7 << 50000 << urls << pageAddresses << QString();
    const QByteArray sitemaps =
            "<sitemapindex xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
            "<sitemap><loc>http://example.test/one.xml</loc></sitemap>"
            "<sitemap><loc>http://example.test/two.xml.gz</loc></sitemap>"
            "</sitemapindex>";
    const QStringList sitemapAddresses {"http://example.test/one.xml",
                                        "http://example.test/two.xml.gz"};
    QTest::newRow("index") << sitemaps << false << 1000 << 50000 << index << sitemapAddresses
                           << QString();
    QTest::newRow("gzip index, two members")
            << gzip(sitemaps.first(60)) + gzip(sitemaps.sliced(60)) << false << 1000 << 50000
            << index << sitemapAddresses << QString();
    QTest::newRow("index inside an index")
            << sitemaps << true << 1000 << 50000 << unknown << QStringList()
            << "sitemap S: a sitemap index inside a sitemap index";
    QTest::newRow("not a sitemap")
            << QByteArray("<html><body>hi</body></html>") << false << 1000 << 50000 << unknown
            << QStringList() << "sitemap S: not a sitemap: its root element is <html>";
    QTest::newRow("bad XML keeps what came before")
            << urlsetStart + "<url><loc>http://example.test/0</loc></url><url><loc>x</url>" << false
            << 1000 << 50000 << urls << addresses(1)
            << "sitemap S: not well-formed XML at line 2: Opening and ending tag mismatch.";
    QTest::newRow("ends early") << urlsetStart + "<url><loc>http://example.test/0</loc></url>"
                                << false << 1000 << 50000 << urls << addresses(1)
                                << "sitemap S: the document ends early, at line 2";
    QTest::newRow("empty") << QByteArray() << false << 1000 << 50000 << unknown << QStringList()
                           << "sitemap S: empty";
    QTest::newRow("gzip ends early") << gzip(pages).first(20) << false << 1000 << 50000 << unknown
                                     << QStringList() << "sitemap S: the gzip stream ends early";
    QTest::newRow("gzip, then garbage")
            << QByteArray::fromHex("1f8b08000000000000030700") + "garbage" << false << 1000 << 50000
            << unknown << QStringList() << "sitemap S: not a readable gzip stream";
    QTest::newRow("over the addresses") << urlset(5) << false << 1000 << 3 << urls << addresses(3)
                                        << "sitemap S: more than 3 addresses: the rest are passed "
                                           "over";
    QTest::newRow("50,000 addresses")
            << urlset(50000) << false << 65536 << 50000 << urls << addresses(50000) << QString();
    QByteArray deep = urlsetStart;
    for (int i = 0; i < 100000; ++i)
        deep.append("<a>");
    QTest::newRow("deep nesting") << deep << false << 4096 << 50000 << urls << QStringList()
                                  << "sitemap S: elements nested deeper than 32";
    // 60 MB of elements without addresses, a few hundred KB compressed.
    QByteArray large = urlsetStart;
    const QByteArray filler = "<url><priority>1.0</priority></url>";
    large.reserve(60 * 1000 * 1000);
    while (large.size() < 60 * 1000 * 1000)
        large.append(filler);
    large.append("</urlset>");
    QTest::newRow("gzip bomb") << gzip(large) << false << 65536 << 50000 << urls << QStringList()
                               << "sitemap S: larger than 50 MB: the rest is passed over";
}

void SitemapReaderTest::read()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, namedByIndex);
    QFETCH(int, chunk);
    QFETCH(int, addressCap);
    QFETCH(int, kind);
    QFETCH(QStringList, addresses);
    QFETCH(QString, error);

    SitemapReader reader(QStringLiteral("S"), namedByIndex, {.addresses = addressCap});
    for (qsizetype at = 0; at < bytes.size(); at += chunk) {
        if (!reader.feed(
                    QByteArrayView(bytes).sliced(at, qMin<qsizetype>(chunk, bytes.size() - at))))
            break;
    }
    reader.finish();
    QVERIFY(reader.stopped());
    QCOMPARE(reader.error(), error);
    QCOMPARE(int(reader.kind()), kind);
    QCOMPARE(reader.addresses(), addresses);
}

void SitemapReaderTest::count_stopsAtTheRunsLimit()
{
    SitemapCount count;
    for (int i = 0; i < sitemapsPerRun; ++i)
        QVERIFY(count.take());
    QVERIFY(!count.take());
    QCOMPARE(count.count(), sitemapsPerRun);
}

QTEST_APPLESS_MAIN(SitemapReaderTest)
#include "tst_sitemapreader.moc"
