// robots.txt kept to and sitemaps read by the command line's run, over loopback sites that record
// every request.
#include "support/commandlinerun.h"
#include "support/gzip.h"
#include "support/hangbound.h"
#include "support/hostileserver.h"
#include "support/loopbackserver.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace skarnel;

class SiteFilesTest final : public QObject
{
    Q_OBJECT

private slots:
    void robots_data();
    void robots();
    void crawlDelay_pacesTheHost();
    void sitemaps_data();
    void sitemaps();
    void hugeSitemap_readAsAStream();
    void folderSitemap_addsItsPages();
};

namespace {

QByteArray links(const QStringList &targets)
{
    QByteArray html = "<html><body>";
    for (const QString &target : targets)
        html += "<a href=\"" + target.toUtf8() + "\">x</a>";
    return html + "</body></html>";
}

// The report's pages by address: "result: reason".
QHash<QString, QString> resultsOf(const Run &run)
{
    QHash<QString, QString> results;
    const QJsonObject report = QJsonDocument::fromJson(run.out).object();
    for (const QJsonValue page : report.value("pages").toArray())
        results.insert(page["address"].toString(),
                       page["result"].toString() + ": " + page["reason"].toString());
    return results;
}

} // namespace

void SiteFilesTest::robots_data()
{
    QTest::addColumn<int>("robotsStatus"); // 0: no robots.txt (404)
    QTest::addColumn<QByteArray>("robotsTxt");
    QTest::addColumn<int>("exitStatus"); // 1: the refused link is broken
    QTest::addColumn<QString>("privateResult");

    const QByteArray rules = "User-agent: *\nDisallow: /private\n";
    QTest::newRow("disallowed: listed, never asked")
            << 200 << rules << 1 << "not checked: disallowed by robots.txt";
    QTest::newRow("4xx allows everything") << 0 << rules << 1 << "ok: ";
    QTest::newRow("5xx disallows the origin") << 503 << rules << 2 << "";
    QTest::newRow("disallowed start page")
            << 200 << QByteArray("User-agent: Skarnel\nDisallow: /\n") << 2 << "";
}

void SiteFilesTest::robots()
{
    QFETCH(int, robotsStatus);
    QFETCH(QByteArray, robotsTxt);
    QFETCH(int, exitStatus);
    QFETCH(QString, privateResult);

    LoopbackServer site;
    // A dead host keeps its own failure: it is not disallowed.
    const QString refused = LoopbackServer::refusedUrl("/private/r.html");
    site.page("/", links({"/a.html", "/private/p.html", "/private", refused}));
    site.page("/a.html", links({"/private/q.html?x=1"}));
    for (const char *path : {"/private", "/private/p.html", "/private/q.html"})
        site.page(path, links({}));
    if (robotsStatus != 0)
        site.page("/robots.txt", robotsTxt, "text/plain", robotsStatus);

    const Run run =
            runHere({"--check", site.url("/"), "--robots", "--crawls", "2", "--format", "json"});
    QCOMPARE(run.status, exitStatus);
    QCOMPARE(site.hits("/robots.txt"), 1);
    if (exitStatus == 2) {
        QVERIFY2(run.err.contains("is disallowed by robots.txt"), run.err.constData());
        QCOMPARE(site.hits("/"), 0);
        return;
    }
    const QHash<QString, QString> results = resultsOf(run);
    QCOMPARE(results.value(site.url("/a.html")), QStringLiteral("ok: "));
    QVERIFY2(results.value(refused).startsWith("broken: ")
                     && !results.value(refused).contains("robots"),
             qPrintable(results.value(refused)));
    for (const char *path : {"/private", "/private/p.html", "/private/q.html?x=1"})
        QCOMPARE(results.value(site.url(path)), privateResult);
    const int privateHits =
            site.hits("/private") + site.hits("/private/p.html") + site.hits("/private/q.html");
    QCOMPARE(privateHits, privateResult.startsWith("ok") ? 3 : 0);
}

void SiteFilesTest::crawlDelay_pacesTheHost()
{
    LoopbackServer site;
    site.page("/", links({"/a.html"}));
    site.page("/a.html", links({}));
    site.page("/robots.txt", "User-agent: *\nCrawl-delay: 1\n", "text/plain");

    const Run run = runHere({"--check", site.url("/"), "--robots", "--format", "json"});
    QCOMPARE(run.status, 0);
    const QList<qint64> robots = site.arrivals("/robots.txt");
    const QList<qint64> start = site.arrivals("/");
    const QList<qint64> page = site.arrivals("/a.html");
    QCOMPARE(robots.size(), 1);
    QCOMPARE(start.size(), 1);
    QCOMPARE(page.size(), 1);
    // A lower bound only, with room for the server's clock reading after the client's.
    QVERIFY2(start[0] - robots[0] >= 900, qPrintable(QString::number(start[0] - robots[0])));
    QVERIFY2(page[0] - start[0] >= 900, qPrintable(QString::number(page[0] - start[0])));
}

void SiteFilesTest::sitemaps_data()
{
    QTest::addColumn<QString>("sitemap"); // a path of the site, or "auto"
    QTest::addColumn<bool>("readsPages");
    QTest::addColumn<QString>("errorLine"); // on standard error and in the report

    QTest::newRow("auto: robots.txt's index, a gzip sitemap among them")
            << "auto" << true << "is not of this site";
    QTest::newRow("broken sitemap") << "/broken.xml" << false << "/broken.xml: ";
    QTest::newRow("missing sitemap") << "/gone.xml" << false << "/gone.xml: HTTP 404";
}

void SiteFilesTest::sitemaps()
{
    QFETCH(QString, sitemap);
    QFETCH(bool, readsPages);
    QFETCH(QString, errorLine);

    LoopbackServer site;
    LoopbackServer other(QStringLiteral("127.0.0.2"));
    other.page("/x.html", links({}));
    site.page("/", links({"/a.html"}));
    for (const char *path : {"/a.html", "/orphan1.html", "/orphan2.html"})
        site.page(path, links({}));
    site.page("/robots.txt", "Sitemap: " + site.url("/index.xml").toUtf8() + "\n", "text/plain");
    const auto urlset = [](const QStringList &addresses) {
        QByteArray xml = "<?xml version=\"1.0\"?>\n"
                         "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">";
        for (const QString &address : addresses)
            xml += "<url><loc>" + address.toUtf8() + "</loc></url>";
        return xml + "</urlset>";
    };
    site.page("/index.xml",
              "<sitemapindex xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\"><sitemap><loc>"
                      + site.url("/s1.xml").toUtf8() + "</loc></sitemap><sitemap><loc>"
                      + site.url("/s2.xml.gz").toUtf8() + "</loc></sitemap></sitemapindex>",
              "application/xml");
    site.page("/s1.xml", urlset({site.url("/orphan1.html"), other.url("/x.html")}),
              "application/xml");
    site.page("/s2.xml.gz", gzip(urlset({site.url("/orphan2.html"), "file:///etc/passwd"})),
              "application/gzip");
    site.page("/broken.xml", "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\"><url>",
              "application/xml");

    const QString given = sitemap == "auto" ? sitemap : site.url(sitemap);
    const Run run = runHere({"--check", site.url("/"), "--sitemap", given, "--format", "json"});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.contains(errorLine.toUtf8()), run.err.constData());
    const QJsonArray notes = QJsonDocument::fromJson(run.out).object().value("notes").toArray();
    QVERIFY(!notes.isEmpty());
    QVERIFY(notes.first().toString().startsWith("sitemap "));

    const QHash<QString, QString> results = resultsOf(run);
    QCOMPARE(results.value(site.url("/a.html")), QStringLiteral("ok: "));
    for (const char *path : {"/orphan1.html", "/orphan2.html"}) {
        QCOMPARE(results.contains(site.url(path)), readsPages);
        QCOMPARE(site.hits(path), readsPages ? 1 : 0);
    }
    QCOMPARE(other.hits("/x.html"), 0);
    QVERIFY(!results.contains(other.url("/x.html")));
    if (readsPages) {
        QVERIFY(run.err.contains(other.url("/x.html").toUtf8()));
        QVERIFY(run.err.contains("file:///etc/passwd is not of this site"));
        const QJsonObject report = QJsonDocument::fromJson(run.out).object();
        for (const QJsonValue page : report.value("pages").toArray())
            if (page["address"] == site.url("/orphan2.html"))
                QCOMPARE(page["found_on"].toArray().first().toString(), site.url("/s2.xml.gz"));
    }
}

// A sitemap beyond the protocol's 50 MB is read as it arrives and left as soon as the reader
// stops: the server sees its answer abandoned long before its end.
void SiteFilesTest::hugeSitemap_readAsAStream()
{
    using namespace std::chrono_literals;

    LoopbackServer site;
    site.page("/", links({}));
    HostileServer huge;
    const QByteArray head = "<?xml version=\"1.0\"?>\n"
                            "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">";
    huge.endless("/huge.xml", head, "application/xml", HostileServer::GiB);

    const Run run = runHere(
            {"--check", site.url("/"), "--sitemap", huge.url("/huge.xml"), "--format", "json"});
    QCOMPARE(run.status, 0);
    const QByteArray line = "sitemap " + huge.url("/huge.xml").toUtf8() + ": larger than 50";
    QVERIFY2(run.err.contains(line), run.err.constData());
    QTRY_COMPARE_WITH_TIMEOUT(huge.abandoned("/huge.xml"), 1, hangBoundMs(5s));
    QCOMPARE(huge.hits("/huge.xml"), 1);
}

// A built folder's sitemap, named under the site address, is read from the folder in pieces; its
// pages are the folder's files.
void SiteFilesTest::folderSitemap_addsItsPages()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const auto write = [&folder](const QString &name, const QByteArray &bytes) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write("index.html", links({}));
    write("orphan.html", links({}));
    // Larger than one piece of the folder's reading.
    write("sitemap.xml", "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
                                 + QByteArray(200'000, ' ')
                                 + "<url><loc>http://example.org/orphan.html</loc></url></urlset>");

    const Run run = runHere({"--check", folder.path(), "--site-url", "http://example.org",
                             "--sitemap", "http://example.org/sitemap.xml", "--format", "json"});
    QCOMPARE(run.status, 0);
    const QString orphan = QUrl::fromLocalFile(folder.filePath("orphan.html")).toString();
    QCOMPARE(resultsOf(run).value(orphan), QStringLiteral("ok: "));
}

QTEST_GUILESS_MAIN(SiteFilesTest)
#include "tst_sitefiles.moc"
