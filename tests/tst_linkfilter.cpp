#include <crawl/linkfilter.h>

#include <QTest>

using namespace skarnel;

class LinkFilterTest final : public QObject
{
    Q_OBJECT

private slots:
    void filter_data();
    void filter();
    void classify_data();
    void classify();
};

void LinkFilterTest::filter_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("recorded");

    QTest::newRow("http, 12 characters") << "http://a.bcd" << false;
    QTest::newRow("http, 13 characters") << "http://a.bcde" << true;
    QTest::newRow("https, 13 characters") << "https://a.bcd" << false;
    QTest::newRow("https, 14 characters") << "https://a.bcde" << true;
    QTest::newRow("page") << "http://example.test/a/b.html" << true;
    QTest::newRow("secure page") << "https://example.test/a/b.html" << true;
    QTest::newRow("fragment") << "http://example.test/a.html#top" << false;
    QTest::newRow("bare fragment sign") << "https://example.test/#" << false;
    QTest::newRow("scheme in capitals") << "HTTP://example.test/" << false;
    QTest::newRow("secure scheme in capitals") << "HTTPS://example.test/" << false;
    QTest::newRow("mixed case scheme") << "Http://example.test/" << false;
    QTest::newRow("mail") << "mailto:someone@example.test" << false;
    QTest::newRow("file transfer") << "ftp://example.test/file.zip" << false;
    QTest::newRow("script") << "javascript:void(0)" << false;
    QTest::newRow("http inside") << "see http://example.test/" << false;
    QTest::newRow("space before") << " http://example.test/" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("scheme only") << "http://" << false;
}

void LinkFilterTest::filter()
{
    QFETCH(QString, address);
    QFETCH(bool, recorded);
    QCOMPARE(passesLinkFilter(address), recorded);
}

void LinkFilterTest::classify_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("internal");

    const QString start = QStringLiteral("http://www.example.test");
    QTest::newRow("start itself") << start << start << true;
    QTest::newRow("page under start") << "http://www.example.test/a/b.html" << start << true;
    QTest::newRow("start followed by host characters")
            << "http://www.example.testing/" << start << false;
    QTest::newRow("start followed by a longer host")
            << "http://www.example.test.br/" << start << false;
    QTest::newRow("start followed by a port") << "http://www.example.test:8080/" << start << false;
    QTest::newRow("start followed by a login")
            << "http://www.example.test@evil.test/" << start << false;
    QTest::newRow("start followed by a query") << "http://www.example.test?a=1" << start << true;
    QTest::newRow("port start, longer port") << "http://127.0.0.1:18080/other.html"
                                             << "http://127.0.0.1:1808" << false;
    QTest::newRow("port start, its page") << "http://127.0.0.1:1808/other.html"
                                          << "http://127.0.0.1:1808" << true;
    QTest::newRow("start with a path keeps the prefix rule")
            << "http://www.example.test/docs-old/"
            << "http://www.example.test/docs" << true;
    QTest::newRow("start in other case") << "http://WWW.example.test/" << start << false;
    QTest::newRow("same host with prefix") << "http://cdn.www.example.test/" << start << false;
    QTest::newRow("other host") << "http://other.test/page" << start << false;
    QTest::newRow("shorter than start") << "http://www.example" << start << false;
    QTest::newRow("secure variant of http start") << "https://www.example.test/" << start << false;
    QTest::newRow("empty start: everything internal") << "http://other.test/" << QString() << true;
    QTest::newRow("space-led start: everything external") << "http://www.example.test/"
                                                          << " http://www.example.test" << false;
    QTest::newRow("trailing space in start") << "http://www.example.test/"
                                             << "http://www.example.test " << false;
}

void LinkFilterTest::classify()
{
    QFETCH(QString, address);
    QFETCH(QString, start);
    QFETCH(bool, internal);
    QCOMPARE(classifyLink(address, start) == LinkKind::Internal, internal);
}

QTEST_APPLESS_MAIN(LinkFilterTest)
#include "tst_linkfilter.moc"
