// Everything a page links to, and a staging site as CI checks it: the window and the command line
// with their switches on, against sites on loopback.
#include "support/commandlinerun.h"
#include "support/loopbackserver.h"
#include "support/networkwindow.h"

#include <app/commandline.h>

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

#include <run/checksettings.h>

using namespace skarnel;

namespace {

// A site with something of every kind to check: a page and its anchors, resources good and
// broken, and redirects of every kind, a loop among them.
struct EveryLinkSite
{
    EveryLinkSite()
    {
        site.page("/", R"(<!doctype html><title>start</title>
<link rel="stylesheet" href="/css/missing.css"><script src="/js/missing.js"></script>
<a href="/page.html">page</a> <a href="/page.html#Intro">id</a> <a href="/page.html#intro">case</a>
<a href="/page.html#named">name</a> <a href="/page.html#caf%C3%A9">encoded</a>
<a href="/page.html#gone">missing</a> <a href="/page.html#top">top</a> <a href="/page.html#">empty</a>
<img src="/img/missing.png" alt=""><img src="/img/ok.png" srcset="/img/ok2.png 2x, /img/broken2.png 3x" alt="">
<iframe src="/frame-missing.html"></iframe>
<a href="/r301">301</a> <a href="/r302">302</a> <a href="/r307">307</a> <a href="/r308">308</a>
<a href="/r308-nowhere">308 without Location</a> <a href="/loop1">loop</a>)");
        site.page("/page.html", R"(<!doctype html><title>page</title><h1 id="Intro">Intro</h1>
<p><a name="named">named</a> <span name="spanned">not an anchor</span> <b id="café">café</b>
<a href="/deep.html#here">here</a> <a href="/deep.html#nothere">not here</a>
<img src="/img/ok.png" alt="">)");
        // Found a level down, not crawled: the check reads its anchors itself.
        site.page("/deep.html", R"(<!doctype html><title>deep</title><p id="here">)");
        for (const char *image : {"/img/ok.png", "/img/ok2.png"})
            site.page(image, "\x89PNG", "image/png");
        site.redirect("/r301", "/page.html", 301);
        site.redirect("/r302", "/r302b", 302);
        site.redirect("/r302b", "/page.html", 302);
        site.redirect("/r307", "/page.html", 307);
        site.redirect("/r308", "/page.html", 308);
        site.page("/r308-nowhere", "moved, but not saying where", "text/html", 308);
        site.redirect("/loop1", "/loop2", 302);
        site.redirect("/loop2", "/loop1", 302);
    }
    QString start() const { return site.url("/"); }
    QStringList urls(const QStringList &paths) const
    {
        QStringList all;
        for (const QString &path : paths)
            all.append(site.url(path));
        return all;
    }

    LoopbackServer site;
};

QJsonObject pageNamed(const QJsonArray &pages, const QString &address)
{
    for (const QJsonValue &page : pages)
        if (page.toObject().value("address").toString() == address)
            return page.toObject();
    return {};
}

} // namespace

class EveryLinkTest final : public QObject
{
    Q_OBJECT

private slots:
    void window_findsWhatTheSwitchesAskFor_data();
    void window_findsWhatTheSwitchesAskFor();
    void commandLine_givesTheWindowsResults();
    void resources_judgedByTheirAnswerWithoutTheirBody();
    void login_reachesOnlyItsHost_data();
    void login_reachesOnlyItsHost();
    void exclusionsAndAcceptedStatuses_showInTheReport();
};

void EveryLinkTest::window_findsWhatTheSwitchesAskFor_data()
{
    QTest::addColumn<bool>("resources");
    QTest::addColumn<bool>("fragments");
    QTest::addColumn<bool>("strict");
    QTest::addColumn<QStringList>("internal");
    QTest::addColumn<QStringList>("broken");

    const QStringList pages = {"/page.html", "/r301",         "/r302", "/r307",
                               "/r308",      "/r308-nowhere", "/loop1"};
    const QStringList resources = {"/css/missing.css",   "/js/missing.js", "/img/missing.png",
                                   "/img/ok.png",        "/img/ok2.png",   "/img/broken2.png",
                                   "/frame-missing.html"};
    QStringList both = {"/css/missing.css",
                        "/js/missing.js",
                        "/page.html",
                        "/img/missing.png",
                        "/img/ok.png",
                        "/img/ok2.png",
                        "/img/broken2.png",
                        "/frame-missing.html",
                        "/r301",
                        "/r302",
                        "/r307",
                        "/r308",
                        "/r308-nowhere",
                        "/loop1"};
    const QStringList missingAnchors = {"/page.html#intro", "/page.html#gone"};

    // Off, the lists hold the page links without a fragment, as they always have.
    QTest::newRow("off") << false << false << false << pages << QStringList {"/loop1"};
    QTest::newRow("resources") << true << false << false << both
                               << QStringList {"/css/missing.css",    "/js/missing.js",
                                               "/img/missing.png",    "/img/broken2.png",
                                               "/frame-missing.html", "/loop1"};
    QTest::newRow("fragments") << false << true << false << pages
                               << missingAnchors + QStringList {"/loop1"};
    QTest::newRow("strict redirects") << false << false << true << pages
                                      << QStringList {"/r301", "/r308", "/r308-nowhere", "/loop1"};
    QTest::newRow("all") << true << true << true << both
                         << QStringList {"/css/missing.css", "/js/missing.js"} + missingAnchors
                                    + QStringList {"/img/missing.png",
                                                   "/img/broken2.png",
                                                   "/frame-missing.html",
                                                   "/r301",
                                                   "/r308",
                                                   "/r308-nowhere",
                                                   "/loop1"};
}

void EveryLinkTest::window_findsWhatTheSwitchesAskFor()
{
    QFETCH(bool, resources);
    QFETCH(bool, fragments);
    QFETCH(bool, strict);
    QFETCH(QStringList, internal);
    QFETCH(QStringList, broken);
    if (fragments) {
        internal.append("/deep.html");
        broken.append("/deep.html#nothere");
    }
    EveryLinkSite site;
    NetworkWindow h;
    CheckSettings settings;
    settings.resources = resources;
    settings.fragments = fragments;
    settings.strictRedirects = strict;
    h.window.setSettings(settings);

    h.crawl(site.start());
    h.check();

    QCOMPARE(h.entries("lstInternal"), site.urls(internal));
    QCOMPARE(h.entries("lstExternal"), QStringList());
    QCOMPARE(h.lines("txtBroken"), site.urls(broken));
    QCOMPARE(h.caption("lblBroken"), QStringLiteral("Broken links: %1").arg(broken.size()));
    // A frame is checked by its answer, not crawled.
    QCOMPARE(site.site.methods("/frame-missing.html"), resources ? QString("HEAD") : QString());

    const CheckResults &results = h.window.results();
    const PageVerdict *r301 = results.find(site.site.url("/r301"));
    QVERIFY(r301);
    QCOMPARE(r301->firstRedirect, RedirectKind::Permanent);
    QCOMPARE(r301->finalAddress, site.site.url("/page.html"));
    QCOMPARE(results.find(site.site.url("/r302"))->firstRedirect, RedirectKind::Temporary);
    QCOMPARE(results.find(site.site.url("/loop1"))->reason, "too many redirects");
    if (strict) {
        QCOMPARE(r301->reason, "moved permanently to " + site.site.url("/page.html"));
        QCOMPARE(results.find(site.site.url("/r308-nowhere"))->reason,
                 "moved permanently (HTTP 308) without saying where");
    }
    if (fragments)
        QCOMPARE(results.find(site.site.url("/page.html#gone"))->reason,
                 "no anchor #gone on the page");
}

// The same switches on the command line give the window's lists, verdicts and kinds.
void EveryLinkTest::commandLine_givesTheWindowsResults()
{
    EveryLinkSite site;
    NetworkWindow h;
    CheckSettings settings;
    settings.resources = settings.fragments = settings.strictRedirects = true;
    h.window.setSettings(settings);
    h.crawl(site.start());
    h.check();

    const Run run = runHere({"--check", site.start(), "--resources", "--fragments",
                             "--strict-redirects", "--format", "json"});

    QCOMPARE(run.status, int(SomethingBroken));
    const QJsonArray pages = QJsonDocument::fromJson(run.out).object().value("pages").toArray();
    QStringList listed;
    QStringList broken;
    for (const QJsonValue &page : pages) {
        const QString address = page.toObject().value("address").toString();
        if (!address.contains('#'))
            listed.append(address);
        if (page.toObject().value("result").toString() == "broken")
            broken.append(address);
    }
    QCOMPARE(listed, h.entries("lstInternal"));
    QCOMPARE(broken, h.lines("txtBroken"));
    const QJsonObject image = pageNamed(pages, site.site.url("/img/broken2.png"));
    QCOMPARE(image.value("kind").toString(), "image");
    QCOMPARE(pageNamed(pages, site.site.url("/css/missing.css")).value("kind").toString(), "style");
    const QJsonObject r308 = pageNamed(pages, site.site.url("/r308"));
    QCOMPARE(r308.value("redirect").toString(), "permanent");
    QCOMPARE(r308.value("final_address").toString(), site.site.url("/page.html"));
    const QJsonObject gone = pageNamed(pages, site.site.url("/page.html#gone"));
    QCOMPARE(gone.value("reason").toString(), "no anchor #gone on the page");
    QCOMPARE(gone.value("found_on").toArray().first().toString(), site.start());
}

void EveryLinkTest::resources_judgedByTheirAnswerWithoutTheirBody()
{
    EveryLinkSite site;
    site.site.page("/img/ok.png", "404 page not found", "image/png");
    NetworkWindow h;
    CheckSettings settings;
    settings.resources = true;
    h.window.setSettings(settings);
    h.crawl(site.start());
    h.check();

    QCOMPARE(site.site.methods("/img/ok.png"), "HEAD");
    QVERIFY(!h.lines("txtBroken").contains(site.site.url("/img/ok.png")));
    // The pages that embed an image link to it as much as those that link: the page, and the
    // addresses that redirect to it.
    h.findLinks(site.site.url("/img/ok.png"));
    QCOMPARE(h.lines("txtLinksToPage"),
             site.urls({"/page.html", "/r301", "/r302", "/r307", "/r308"}));
}

void EveryLinkTest::login_reachesOnlyItsHost_data()
{
    QTest::addColumn<QStringList>("login");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("basic") << QStringList {"--user", "ci"} << QByteArray("Authorization")
                           << QByteArray("Basic Y2k6czNjcmV0");
    QTest::newRow("header") << QStringList {"--header", "X-Staging: s3cret"}
                            << QByteArray("X-Staging") << QByteArray("s3cret");
    QTest::newRow("cookie") << QStringList {"--cookies", "COOKIES"} << QByteArray("Cookie")
                            << QByteArray("session=s3cret");
    QTest::newRow("login in the address") << QStringList {"LOGIN@"} << QByteArray("Authorization")
                                          << QByteArray("Basic Y2k6czNjcmV0");
}

// A site behind a login is checked clean with its switch and cannot be checked without; a second
// host that the site redirects to never sees the credentials.
void EveryLinkTest::login_reachesOnlyItsHost()
{
    QFETCH(QStringList, login);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, value);
    LoopbackServer site;
    LoopbackServer other(QStringLiteral("127.0.0.2"));
    site.page("/", linksPage({"/a.html", "/away"}));
    site.page("/a.html", linksPage({}));
    site.redirect("/away", other.url("/b.html"), 302);
    other.page("/b.html", linksPage({}));
    for (const char *path : {"/", "/a.html"})
        site.requireHeader(path, header, value);
    QTemporaryFile cookies;
    QVERIFY(cookies.open());
    cookies.write("# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\ts3cret\n");
    cookies.close();
    login.replaceInStrings("COOKIES", cookies.fileName());
    QString start = site.url("/");
    if (login.removeAll("LOGIN@") > 0)
        start.replace("://", "://ci:s3cret@");
    qputenv("SKARNEL_PASSWORD", "s3cret");

    const Run without = runHere({"--check", site.url("/")});
    const Run with = runHere(QStringList {"--check", start, "--format", "csv"} + login);

    qunsetenv("SKARNEL_PASSWORD");
    QCOMPARE(without.status, int(BadUsage));
    QVERIFY2(without.err.contains("401"), without.err.constData());
    QCOMPARE(with.status, int(NothingBroken));
    QVERIFY(other.hits("/b.html") > 0);
    QCOMPARE(other.carrying(header), 0);
    QVERIFY(with.out.contains((site.url("/a.html") + ",internal,ok").toUtf8()));
    QVERIFY(!with.out.contains("s3cret"));
    QVERIFY(!with.err.contains("s3cret"));
}

void EveryLinkTest::exclusionsAndAcceptedStatuses_showInTheReport()
{
    LoopbackServer site;
    LoopbackServer other(QStringLiteral("127.0.0.2"));
    site.page("/",
              linksPage({"/members.html", "/logout", other.url("/private/a.html"), "/deep.html"}));
    site.page("/members.html", "Members only", "text/html", 403);
    site.page("/logout", linksPage({"/after-logout.html"}));
    site.page("/deep.html", linksPage({}));

    const Run run = runHere({"--check", site.url("/"), "--accept", "403", "--exclude", "/private/",
                             "--no-crawl", "logout", "--format", "json"});

    QCOMPARE(run.status, int(NothingBroken));
    const QJsonArray pages = QJsonDocument::fromJson(run.out).object().value("pages").toArray();
    const QJsonObject members = pageNamed(pages, site.url("/members.html"));
    QCOMPARE(members.value("result").toString(), "ok");
    QCOMPARE(members.value("reason").toString(), "accepted: HTTP 403");
    const QJsonObject excluded = pageNamed(pages, other.url("/private/a.html"));
    QCOMPARE(excluded.value("result").toString(), "not checked");
    QCOMPARE(excluded.value("reason").toString(), "excluded");
    QCOMPARE(other.hits("/private/a.html"), 0);
    // The page kept out of the crawl is checked, not crawled: its own links are not listed.
    QCOMPARE(pageNamed(pages, site.url("/logout")).value("result").toString(), "ok");
    QVERIFY(pageNamed(pages, site.url("/after-logout.html")).isEmpty());
}

QTEST_MAIN(EveryLinkTest)
#include "tst_everylink.moc"
