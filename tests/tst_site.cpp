// The whole program against real sites on loopback: the window, the network services and a
// loopback server, as a user would drive them.
#include "support/loopbackserver.h"
#include "support/networkwindow.h"

using namespace std::chrono_literals;

class SiteTest final : public QObject
{
    Q_OBJECT

private slots:
    void crawl_recordsTwoLevelsOfALoopbackSite();
    void crawl_followsRedirectAndResolvesAgainstFinalAddress();
    void crawl_baseHrefDecidesInternalLinks();
    void forceStop_endsWaitOnStalledPageAndClosesIt();
    void closeBox_duringStalledPage_endsCrawl();
    void check_findsNotFoundPagesByTheirText();
    void check_deadHostsFailAtOnceOnEveryRun();
    void search_findsPagesLinkingToAddress();
};

void SiteTest::crawl_recordsTwoLevelsOfALoopbackSite()
{
    LoopbackServer site;
    LoopbackServer other(QStringLiteral("127.0.0.2"));
    const QString start = site.url("/");
    site.page("/", linksPage({"a.html", "/b.html", site.url("/c.html"), other.url("/x.html"),
                              "mailto:someone@site.test", "#top", "a.html#part",
                              "javascript:void(0)", "/report.pdf", "https://secure.site.test/"}));
    site.page("/a.html",
              linksPage({"deep/1.html", "/b.html", other.url("/x.html"), other.url("/y.html")}));
    site.page("/b.html", linksPage({"/a.html"}));
    site.page("/report.pdf", "%PDF-1.4 <a href='/from-pdf.html'>", "application/pdf");
    NetworkWindow h;

    h.crawl(start);

    QCOMPARE(h.entries("lstInternal"),
             QStringList({site.url("/a.html"), site.url("/b.html"), site.url("/c.html"),
                          site.url("/report.pdf"), site.url("/deep/1.html")}));
    QCOMPARE(
            h.entries("lstExternal"),
            QStringList({other.url("/x.html"), "https://secure.site.test/", other.url("/y.html")}));
    QCOMPARE(h.caption("lblInternal"), "Internal links: 5");
    QCOMPARE(h.caption("lblExternal"), "External links: 3");
    QCOMPARE(h.caption("lblTotal"), "Total links: 8");
    // Two levels: the start page and the four pages it links to; nothing deeper, nothing external.
    QCOMPARE(site.hits("/a.html"), 1);
    QCOMPARE(site.hits("/c.html"), 1);
    QCOMPARE(site.hits("/deep/1.html"), 0);
    QCOMPARE(other.hits("/x.html"), 0);
    QVERIFY(h.get<QPushButton>("cmdCheckBroken")->isEnabled());
}

void SiteTest::crawl_followsRedirectAndResolvesAgainstFinalAddress()
{
    LoopbackServer site;
    site.redirect("/", "/home/index.html");
    site.page("/home/index.html", linksPage({"next.html", "../top.html"}));
    NetworkWindow h;

    h.crawl(site.url("/"));

    QCOMPARE(h.entries("lstInternal"),
             QStringList({site.url("/home/next.html"), site.url("/top.html")}));
}

void SiteTest::crawl_baseHrefDecidesInternalLinks()
{
    LoopbackServer site;
    LoopbackServer other(QStringLiteral("127.0.0.2"));
    site.page("/", "<base href='" + other.url("/mirror/").toUtf8() + "'><a href='page.html'>p</a>");
    NetworkWindow h;

    h.crawl(site.url("/"));

    QVERIFY(h.entries("lstInternal").isEmpty());
    QCOMPARE(h.entries("lstExternal"), QStringList({other.url("/mirror/page.html")}));
}

void SiteTest::forceStop_endsWaitOnStalledPageAndClosesIt()
{
    LoopbackServer site;
    site.page("/", linksPage({"/stalled.html", "/after.html"}));
    site.page("/after.html", linksPage({"/from-after.html"}));
    site.stall("/stalled.html", "<a href='/seen-before-stop.html'>x</a>");
    NetworkWindow h;
    QTimer::singleShot(500, &h.window, [&] { h.get<QAction>("mnuForceStop")->trigger(); });

    QElapsedTimer elapsed;
    elapsed.start();
    h.crawl(site.url("/"));

    QVERIFY(elapsed.elapsed() < hangBoundMs(10s));
    // The page after the stalled one was not crawled (it may have been loaded ahead).
    QVERIFY(!h.entries("lstInternal").contains(site.url("/from-after.html")));
    QVERIFY(h.get<QPushButton>("cmdCheckBroken")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(site.abandoned("/stalled.html"), 1, hangBoundMs(5s));
}

void SiteTest::closeBox_duringStalledPage_endsCrawl()
{
    LoopbackServer site;
    site.page("/", linksPage({"/stalled.html", "/after.html"}));
    site.page("/after.html", linksPage({"/from-after.html"}));
    site.stall("/stalled.html");
    NetworkWindow h;
    h.window.show();
    QTimer::singleShot(500, &h.window, [&] { h.window.close(); });

    h.crawl(site.url("/"));

    QVERIFY(!h.window.isVisible());
    // The page after the stalled one was not crawled (it may have been loaded ahead).
    QVERIFY(!h.entries("lstInternal").contains(site.url("/from-after.html")));
    QTRY_COMPARE_WITH_TIMEOUT(site.abandoned("/stalled.html"), 1, hangBoundMs(5s));
}

void SiteTest::check_findsNotFoundPagesByTheirText()
{
    LoopbackServer site;
    LoopbackServer other(QStringLiteral("127.0.0.2"));
    const QString refused = LoopbackServer::refusedUrl("/gone.html");
    site.page("/", linksPage({"/ok.html", "/missing.html", "/soft.html", "/number.html",
                              other.url("/ext.html"), other.url("/ext-missing.html"), refused}));
    site.page("/ok.html", "<h1>Welcome</h1>");
    site.page("/missing.html", "<h1>Not Found</h1><p>Error 404</p>", "text/html", 404);
    site.page("/soft.html", "<h1>Sorry, Page Not Found</h1>");
    site.page("/number.html", "Order 12404567 shipped");
    other.page("/ext.html", "Fine");
    other.page("/ext-missing.html", "<title>PAGE NOT FOUND</title>", "text/html", 404);
    NetworkWindow h;
    h.crawl(site.url("/"));

    h.get<QPushButton>("cmdCheckBroken")->click();

    QCOMPARE(h.lines("txtBroken"),
             QStringList({site.url("/missing.html"), site.url("/soft.html"),
                          site.url("/number.html"), other.url("/ext-missing.html"), refused}));
    QCOMPARE(h.caption("lblBroken"), "Broken links: 5");
    // The last page could not be fetched: no other page's text stands for it.
    QCOMPARE(h.get<MultiLineTextBox>("txtHTML")->toPlainText(), QString());
}

// Hosts that do not resolve fail at once, however many links lead to them and however often the
// check runs, in a new window or again in the same: none waits out the time limit.
void SiteTest::check_deadHostsFailAtOnceOnEveryRun()
{
    LoopbackServer site;
    QStringList dead;
    for (int i = 0; i < 50; ++i)
        dead.append(QStringLiteral("http://host-%1.dead.test/page-%2.html").arg(i % 10).arg(i));
    site.page("/", linksPage(dead));
    for (int window = 0; window < 3; ++window) {
        const auto hang = hangBound(15s);
        NetworkWindow h(2 * hang);
        h.crawl(site.url("/"));
        QCOMPARE(h.entries("lstExternal"), dead);
        for (int run = 0; run < 2; ++run) {
            QElapsedTimer took;
            took.start();
            h.check();
            // One wait of the limit would take twice as long.
            QVERIFY2(took.elapsed() < hang.count(), qPrintable(QString::number(took.elapsed())));
            QCOMPARE(h.lines("txtBroken"), dead);
            for (const QString &address : dead)
                QCOMPARE(h.window.results().find(address)->reason, "host not found");
        }
    }
}

void SiteTest::search_findsPagesLinkingToAddress()
{
    LoopbackServer site;
    const QString dead = site.url("/dead.html");
    site.page("/", linksPage({"/a.html", "/b.html", "/c.html"}));
    site.page("/a.html", linksPage({"/dead.html", "/b.html", "/dead.html"}));
    site.page("/b.html", linksPage({"/DEAD.html", "/dead.html/", "/dead.html#x"}));
    site.page("/c.html", linksPage({dead}));
    NetworkWindow h;
    h.crawl(site.url("/"));

    h.get<QLineEdit>("txtBrokenLink")->setText(dead);
    h.get<QPushButton>("cmdBrokenLinkCrawl")->click();

    QCOMPARE(h.lines("txtLinksToPage"),
             QStringList({site.url("/a.html"), site.url("/a.html"), site.url("/c.html")}));
}

QTEST_MAIN(SiteTest)
#include "tst_site.moc"
