#include <QTest>

#include <robots/robotstxt.h>

using namespace skarnel;
using namespace std::chrono_literals;

class RobotsTxtTest final : public QObject
{
    Q_OBJECT

private slots:
    void access_data();
    void access();
    void delayAndSitemaps();
    void readCap_cutLineIsNotRead();
    void answer_data();
    void answer();
};

// The bytes of a literal, NULs included.
template<qsizetype N>
static QByteArray bytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

// The groups of RFC 9309's example, with a group of our own added in some rows.
static const QByteArray rfcExample = "User-Agent: *\n"
                                     "Disallow: *.gif$\n"
                                     "Disallow: /example/\n"
                                     "Allow: /publications/\n"
                                     "\n"
                                     "User-Agent: foobot\n"
                                     "Disallow:/\n"
                                     "Allow:/example/page.html\n"
                                     "Allow:/example/allowed.gif\n"
                                     "\n"
                                     "User-Agent: barbot\n"
                                     "User-Agent: bazbot\n"
                                     "Disallow: /example/page.html\n";

void RobotsTxtTest::access_data()
{
    QTest::addColumn<QByteArray>("robots");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("star group: gif at the end") << rfcExample << QByteArray("/a/b.gif") << false;
    QTest::newRow("star group: gif before a query")
            << rfcExample << QByteArray("/a/b.gif?x=1") << true;
    QTest::newRow("star group: folder") << rfcExample << QByteArray("/example/x") << false;
    QTest::newRow("star group: allowed folder")
            << rfcExample << QByteArray("/publications/a") << true;
    QTest::newRow("star group: root") << rfcExample << QByteArray("/") << true;
    QTest::newRow("star group: empty path") << rfcExample << QByteArray() << true;
    const QByteArray ours = rfcExample
                            + "User-agent: skarnel/2.0 (+https://example.test)\n"
                              "Disallow: /\n"
                              "Allow: /public/\n";
    QTest::newRow("our group, named in lower case with a version")
            << ours << QByteArray("/publications/a") << false;
    QTest::newRow("our group's allow") << ours << QByteArray("/public/a") << true;
    QTest::newRow("the robots.txt itself") << ours << QByteArray("/robots.txt") << true;
    QTest::newRow("our name among others of one group")
            << QByteArray("User-agent: other\nUser-agent: Skarnel\nDisallow: /x\n")
            << QByteArray("/x/y") << false;
    QTest::newRow("a group for another agent alone")
            << QByteArray("User-agent: foobot\nDisallow: /\n") << QByteArray("/x") << true;
    QTest::newRow("two groups of one agent are one")
            << QByteArray("User-agent: *\nDisallow: /a\n\nUser-agent: *\nDisallow: /b\n")
            << QByteArray("/b") << false;
    QTest::newRow("rules before any group")
            << QByteArray("Disallow: /\nUser-agent: *\n") << QByteArray("/x") << true;
    QTest::newRow("longest match: disallow with a star")
            << QByteArray("User-agent: *\nAllow: /page\nDisallow: /*.html\n")
            << QByteArray("/page.html") << false;
    QTest::newRow("longest match: allow")
            << QByteArray("User-agent: *\nAllow: /page\nDisallow: /*.html\n") << QByteArray("/page")
            << true;
    QTest::newRow("a tie goes to allow")
            << QByteArray("User-agent: *\nDisallow: /a\nAllow: /a\n") << QByteArray("/a") << true;
    QTest::newRow("empty disallow")
            << QByteArray("User-agent: *\nDisallow:\n") << QByteArray("/x") << true;
    QTest::newRow("stars and an end")
            << QByteArray("User-agent: *\nDisallow: /a*/b**c$\n") << QByteArray("/ax/bzc") << false;
    QTest::newRow("stars and an end, longer path")
            << QByteArray("User-agent: *\nDisallow: /a*/b**c$\n") << QByteArray("/ax/bzcd") << true;
    QTest::newRow("a dollar inside is a dollar")
            << QByteArray("User-agent: *\nDisallow: /a$b\n") << QByteArray("/a$bc") << false;
    QTest::newRow("case counts in paths")
            << QByteArray("user-AGENT: *\nDISALLOW: /Y\n") << QByteArray("/y") << true;
    QTest::newRow("UTF-8 pattern, encoded path")
            << QByteArray("User-agent: *\nDisallow: /foo/bar/\xE3\x83\x84\n")
            << QByteArray("/foo/bar/%e3%83%84") << false;
    QTest::newRow("encoded unreserved characters")
            << QByteArray("User-agent: *\nDisallow: /foo/bar/%62%61%7A\n")
            << QByteArray("/foo/bar/baz") << false;
    QTest::newRow("encoded slash is no slash")
            << QByteArray("User-agent: *\nDisallow: /a/b\n") << QByteArray("/a%2Fb") << true;
    QTest::newRow("comments and carriage returns")
            << QByteArray("User-agent: * # all\r\nDisallow: /a # not /b\r\n") << QByteArray("/a")
            << false;
    QTest::newRow("binary lines passed over") << bytes("\x00\xff\xfe\x01\nUser-agent: *\n\x01"
                                                       "Disallow\x02: /x\nDisallow: /y\n\xEF\xBB")
                                              << QByteArray("/y") << false;
    QTest::newRow("binary lines: the broken rule") << QByteArray("User-agent: *\n\x01"
                                                                 "Disallow: /x\n")
                                                   << QByteArray("/x") << true;
    QTest::newRow("byte order mark")
            << QByteArray("\xEF\xBB\xBFUser-agent: *\nDisallow: /\n") << QByteArray("/x") << false;
}

void RobotsTxtTest::access()
{
    QFETCH(QByteArray, robots);
    QFETCH(QByteArray, path);
    QFETCH(bool, allowed);
    const RobotsTxt rules = RobotsTxt::parse(robots);
    QCOMPARE(rules.accessToPath(path) == RobotsTxt::Access::Allowed, allowed);
    if (!path.isEmpty()) {
        const QUrl address(QStringLiteral("http://example.test") + QString::fromLatin1(path));
        QCOMPARE(rules.access(address) == RobotsTxt::Access::Allowed, allowed);
    }
}

void RobotsTxtTest::delayAndSitemaps()
{
    const QByteArray text = "Sitemap: https://example.test/a.xml\n"
                            "User-agent: *\n"
                            "Crawl-delay: 120\n"
                            "Sitemap: https://example.test/b.xml.gz\n"
                            "User-agent: Skarnel\n"
                            "Crawl-delay: 2.5\n"
                            "Sitemap: https://example.test/a.xml\n";
    const RobotsTxt ours = RobotsTxt::parse(text);
    QCOMPARE(ours.crawlDelay(), 2500ms);
    QCOMPARE(ours.sitemaps(),
             QStringList({"https://example.test/a.xml", "https://example.test/b.xml.gz"}));
    QCOMPARE(RobotsTxt::parse(text, QLatin1StringView("otherbot")).crawlDelay(), 60s);
    QCOMPARE(RobotsTxt::parse("User-agent: *\nCrawl-delay: soon\n").crawlDelay(), 0ms);
}

void RobotsTxtTest::readCap_cutLineIsNotRead()
{
    QByteArray text = "User-agent: *\n";
    text.append(QByteArray(robotsReadCap - text.size() - 11, '#'));
    text.append("\nDisallow: /private\nDisallow: /\n");
    // The cap falls inside "Disallow: /private": read whole it would forbid everything.
    const RobotsTxt rules = RobotsTxt::parse(text);
    QCOMPARE(rules.accessToPath("/x"), RobotsTxt::Access::Allowed);
    QCOMPARE(rules.accessToPath("/private"), RobotsTxt::Access::Allowed);
}

void RobotsTxtTest::answer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("timedOut");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("access");
    QTest::addColumn<QString>("reason");

    const auto allowed = int(RobotsTxt::Access::Allowed);
    const auto disallowed = int(RobotsTxt::Access::Disallowed);
    const QString robots = QStringLiteral("disallowed by robots.txt");
    QTest::newRow("200: its rules") << 200 << false << QString() << disallowed << robots;
    QTest::newRow("404: everything allowed") << 404 << false << QString() << allowed << QString();
    QTest::newRow("too many redirects") << 301 << false << QString() << allowed << QString();
    QTest::newRow("503: the origin forbidden") << 503 << false << QString() << disallowed << robots;
    QTest::newRow("time-out: the origin forbidden")
            << 0 << true << "timed out" << disallowed << robots;
    QTest::newRow("host not found: its own reason")
            << 0 << false << "host not found" << int(RobotsTxt::Access::Unreachable)
            << "host not found";
}

void RobotsTxtTest::answer()
{
    QFETCH(int, status);
    QFETCH(bool, timedOut);
    QFETCH(QString, failure);
    QFETCH(int, access);
    QFETCH(QString, reason);
    const RobotsTxt rules = RobotsTxt::fromAnswer({.status = status,
                                                   .body = "User-agent: *\nDisallow: /a\n",
                                                   .timedOut = timedOut,
                                                   .failure = failure});
    const RobotsTxt::Access found = rules.access(QUrl(QStringLiteral("http://example.test/a")));
    QCOMPARE(int(found), access);
    QCOMPARE(rules.reason(found), reason);
    QCOMPARE(rules.access(QUrl(QStringLiteral("http://example.test/robots.txt")))
                     == RobotsTxt::Access::Allowed,
             access != int(RobotsTxt::Access::Unreachable));
}

QTEST_APPLESS_MAIN(RobotsTxtTest)
#include "tst_robotstxt.moc"
