#include <net/networkservices.h>
#include <support/hangbound.h>
#include <support/loopbackclient.h>
#include <support/loopbackserver.h>

#include <QTest>

#include <chrono>
#include <vector>

using namespace skarnel;

using namespace std::chrono_literals;

namespace {

const LoadRequest Page {.mode = LoadMode::Page};

bool finishes(const PageLoad &load, std::chrono::milliseconds idle = 10s)
{
    return sleepUntil([&] { return load.isDone(); }, idle);
}

QStringList linksOnceDone(PageLoader &service, const QString &address)
{
    const auto load = service.load(address, Page);
    if (!finishes(*load))
        return {QStringLiteral("(still loading)")};
    return load->links();
}

} // namespace

// The one load of an address, in each of its modes: a page and its links for the crawl and the
// search (load_), a page's text or its answer alone for the check (fetch_).
class NetworkLoadTest final : public QObject
{
    Q_OBJECT

private slots:
    void load_linksOfPage();
    void load_errorStatusPageRead();
    void load_redirectFollowedAndResolvedAgainstFinalAddress();
    void load_endlessRedirectsGiveNoLinks();
    void load_contentType_data();
    void load_contentType();
    void load_nonHtmlBodyNotDownloaded();
    void load_outlivesService();
    void load_manyLoadsAtOnce();
    void load_destroyedWhileItsLinksAreReadIsLeftAlone();
    void fetch_bodyOfPage_data();
    void fetch_bodyOfPage();
    void fetch_tellsFirstRedirectAndFinalAddress_data();
    void fetch_tellsFirstRedirectAndFinalAddress();
    void fetch_headersOnly_data();
    void fetch_headersOnly();
    void fetch_failures_data();
    void fetch_failures();
    void fetch_tellsStatusOfFinalAnswer();
    void fetch_busyAnswerAskedAgainOnce_data();
    void fetch_busyAnswerAskedAgainOnce();
    void fetch_unfetchableAddressFailsAtOnce_data();
    void fetch_unfetchableAddressFailsAtOnce();
    void fetch_destroyedWhileRunningClosesConnection();
    void load_trickleEndsAtTimeLimit();
    void load_bodyReadUpToCap();
};

void NetworkLoadTest::load_linksOfPage()
{
    LoopbackServer server;
    server.page("/dir/page.html",
                "<!doctype html><title>t</title><a href='a.html'>a</a> <a href='/b.html'>b</a>"
                "<a href='https://other.test/c'>c</a><area href='#top'>");
    NetworkServices service;

    QCOMPARE(linksOnceDone(service, server.url("/dir/page.html")),
             QStringList({server.url("/dir/a.html"), server.url("/b.html"), "https://other.test/c",
                          server.url("/dir/page.html#top")}));
}

void NetworkLoadTest::load_errorStatusPageRead()
{
    LoopbackServer server;
    server.page("/missing", "<p>Not here. Try <a href='/home'>home</a>.", "text/html", 404);
    server.page("/failing", "<a href='/status'>status</a>", "text/html", 503);
    NetworkServices service;

    QCOMPARE(linksOnceDone(service, server.url("/missing")), QStringList {server.url("/home")});
    QCOMPARE(linksOnceDone(service, server.url("/failing")), QStringList {server.url("/status")});
}

void NetworkLoadTest::load_redirectFollowedAndResolvedAgainstFinalAddress()
{
    LoopbackServer server;
    server.redirect("/old/start.html", "/moved/here.html", 301);
    server.redirect("/moved/here.html", server.url("/new/landing.html"), 307);
    server.page("/new/landing.html", "<a href='next.html'>next</a>");
    NetworkServices service;

    QCOMPARE(linksOnceDone(service, server.url("/old/start.html")),
             QStringList {server.url("/new/next.html")});
}

void NetworkLoadTest::load_endlessRedirectsGiveNoLinks()
{
    LoopbackServer server;
    server.redirect("/loop", "/loop");
    NetworkServices service;

    QCOMPARE(linksOnceDone(service, server.url("/loop")), QStringList());
    QVERIFY(server.hits("/loop") > 1);
    QVERIFY(server.hits("/loop") <= 21);
}

void NetworkLoadTest::load_contentType_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("read");

    QTest::newRow("html") << QByteArray("text/html; charset=utf-8") << true;
    QTest::newRow("xhtml") << QByteArray("application/xhtml+xml") << true;
    QTest::newRow("none") << QByteArray() << true;
    QTest::newRow("plain text") << QByteArray("text/plain") << false;
    QTest::newRow("json") << QByteArray("application/json") << false;
    QTest::newRow("picture") << QByteArray("image/png") << false;
}

void NetworkLoadTest::load_contentType()
{
    QFETCH(QByteArray, contentType);
    QFETCH(bool, read);
    LoopbackServer server;
    server.page("/page", "<a href='/x'>x</a>", contentType);
    NetworkServices service;

    QCOMPARE(linksOnceDone(service, server.url("/page")),
             read ? QStringList {server.url("/x")} : QStringList());
}

void NetworkLoadTest::load_nonHtmlBodyNotDownloaded()
{
    LoopbackServer server;
    server.stall("/data.txt", "<a href='/x'>x</a>", "text/plain");
    NetworkServices service({2 * hangBound(10s)});

    const auto document = service.load(server.url("/data.txt"), Page);
    // Far sooner than the load limit: the headers were enough.
    QVERIFY(finishes(*document, 10s));
    QCOMPARE(document->links(), QStringList());
    QTRY_COMPARE_WITH_TIMEOUT(server.abandoned("/data.txt"), 1, hangBoundMs(10s));
}

void NetworkLoadTest::load_outlivesService()
{
    LoopbackServer server;
    server.page("/page.html", "<a href='a.html'>a</a>");
    auto service = std::make_unique<NetworkServices>();

    const auto document = service->load(server.url("/page.html"), Page);
    service.reset();
    QVERIFY(finishes(*document));
    QCOMPARE(document->links(), QStringList {server.url("/a.html")});
}

void NetworkLoadTest::load_manyLoadsAtOnce()
{
    constexpr int count = 24;
    LoopbackServer server;
    for (int i = 0; i < count; ++i)
        server.page(QStringLiteral("/%1.html").arg(i),
                    QStringLiteral("<a href='/to/%1'>%1</a>").arg(i).toUtf8());
    NetworkServices service;

    std::vector<std::unique_ptr<PageLoad>> documents;
    for (int i = 0; i < count; ++i)
        documents.push_back(service.load(server.url(QStringLiteral("/%1.html").arg(i)), Page));
    for (int i = 0; i < count; ++i) {
        QVERIFY(finishes(*documents[i]));
        QCOMPARE(documents[i]->links(), QStringList {server.url(QStringLiteral("/to/%1").arg(i))});
    }
}

void NetworkLoadTest::load_destroyedWhileItsLinksAreReadIsLeftAlone()
{
    constexpr int count = 12;
    QByteArray big = "<!doctype html>";
    for (int i = 0; i < 40000; ++i)
        big += "<p>text and <a href='/l" + QByteArray::number(i) + "'>a link</a></p>";
    LoopbackServer server;
    server.page("/big.html", big);
    auto service = std::make_unique<NetworkServices>();

    std::vector<std::unique_ptr<PageLoad>> documents;
    for (int i = 0; i < count; ++i)
        documents.push_back(service->load(server.url("/big.html"), Page));
    std::unique_ptr<PageLoad> kept = std::move(documents.front());
    documents.erase(documents.begin());
    // Once the first is read, the others are being downloaded or read.
    QVERIFY(finishes(*kept));
    documents.clear();
    service.reset();
    QTest::qWait(300);
    QCOMPARE(kept->links().size(), 40000);
}

void NetworkLoadTest::fetch_bodyOfPage_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");

    QTest::newRow("page") << QByteArray("<p>Hello</p>") << QByteArray("text/html") << 200
                          << "<p>Hello</p>";
    QTest::newRow("not found") << QByteArray("<h1>404 Page not found</h1>")
                               << QByteArray("text/html") << 404 << "<h1>404 Page not found</h1>";
    QTest::newRow("server error") << QByteArray("Internal error") << QByteArray("text/plain") << 500
                                  << "Internal error";
    QTest::newRow("plain text") << QByteArray("just text") << QByteArray("text/plain") << 200
                                << "just text";
    QTest::newRow("charset of the header")
            << QByteArray("caf\xe9") << QByteArray("text/plain; charset=windows-1252") << 200
            << "café";
    QTest::newRow("charset of the page")
            << QByteArray("<meta charset='shift_jis'>\x83\x65\x83\x58\x83\x67")
            << QByteArray("text/html") << 200 << "<meta charset='shift_jis'>テスト";
    QTest::newRow("empty") << QByteArray() << QByteArray("text/html") << 200 << "";
}

void NetworkLoadTest::fetch_bodyOfPage()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(int, status);
    QFETCH(QString, text);
    LoopbackServer server;
    server.page("/page", body, contentType, status);
    NetworkServices transfer;

    const auto fetch = transfer.load(server.url("/page"), {});
    QVERIFY(!fetch->isDone());
    QCOMPARE(fetch->text(), QString());
    QVERIFY(finishes(*fetch));
    QVERIFY(!fetch->failed());
    QCOMPARE(fetch->text(), text);
}

void NetworkLoadTest::fetch_tellsFirstRedirectAndFinalAddress_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("login");
    QTest::addColumn<RedirectKind>("kind");
    QTest::newRow("no redirect") << "/page" << false << RedirectKind::None;
    QTest::newRow("301") << "/301" << false << RedirectKind::Permanent;
    QTest::newRow("308") << "/308" << false << RedirectKind::Permanent;
    QTest::newRow("302") << "/302" << false << RedirectKind::Temporary;
    QTest::newRow("303") << "/303" << false << RedirectKind::Temporary;
    QTest::newRow("307") << "/307" << false << RedirectKind::Temporary;
    QTest::newRow("the first of a chain") << "/307-to-301" << false << RedirectKind::Temporary;
    QTest::newRow("login in the address") << "/301" << true << RedirectKind::Permanent;
    QTest::newRow("login, no redirect") << "/page" << true << RedirectKind::None;
}

void NetworkLoadTest::fetch_tellsFirstRedirectAndFinalAddress()
{
    QFETCH(QString, path);
    QFETCH(bool, login);
    QFETCH(RedirectKind, kind);
    LoopbackServer server;
    server.page("/page", "here");
    for (const int status : {301, 302, 303, 307, 308})
        server.redirect('/' + QString::number(status), "/page", status);
    server.redirect("/307-to-301", "/301", 307);
    NetworkServices transfer;

    QString address = server.url(path);
    if (login)
        address.replace("http://", "http://someone:s3cret@");
    const auto fetch = transfer.load(address, {});
    QVERIFY(finishes(*fetch));
    QCOMPARE(fetch->httpStatus(), 200);
    QCOMPARE(fetch->text(), "here");
    QCOMPARE(fetch->redirectKind(), kind);
    QCOMPARE(fetch->finalAddress(), server.url("/page"));
}

void NetworkLoadTest::fetch_headersOnly_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("methods");
    QTest::newRow("HEAD answered") << "/page" << 200 << "HEAD";
    QTest::newRow("missing") << "/missing" << 404 << "HEAD";
    QTest::newRow("HEAD not allowed: one GET") << "/no-head-405" << 200 << "HEAD GET";
    QTest::newRow("HEAD not implemented: one GET") << "/no-head-501" << 200 << "HEAD GET";
    QTest::newRow("redirected") << "/moved" << 200 << "HEAD";
}

void NetworkLoadTest::fetch_headersOnly()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, methods);
    LoopbackServer server;
    server.stall("/page", "never read");
    server.page("/missing", "not here", "text/html", 404);
    for (const int refusal : {405, 501}) {
        const QString refused = "/no-head-" + QString::number(refusal);
        server.stall(refused, "never read");
        server.refuseHead(refused, refusal);
    }
    server.redirect("/moved", "/page", 301);
    NetworkServices transfer;

    const auto fetch = transfer.load(server.url(path), {.mode = LoadMode::HeadersOnly});
    QVERIFY(finishes(*fetch));
    QVERIFY(!fetch->failed());
    QCOMPARE(fetch->httpStatus(), status);
    QCOMPARE(fetch->text(), QString());
    QCOMPARE(server.methods(path == "/moved" ? "/page" : path), methods);
    QCOMPARE(fetch->finalAddress(), server.url(path == "/moved" ? "/page" : path));
}

void NetworkLoadTest::fetch_failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("redirect to a file") << "/to-file"
                                        << "redirect to a non-web address";
    QTest::newRow("redirect to file transfer") << "/to-ftp"
                                               << "redirect to a non-web address";
    QTest::newRow("endless redirects") << "/loop"
                                       << "too many redirects";
    QTest::newRow("refused connection") << "refused"
                                        << "connection refused";
    QTest::newRow("host that does not resolve") << "http://dead.test/"
                                                << "host not found";
    QTest::newRow("redirect to such a host") << "/to-dead"
                                             << "host not found";
}

void NetworkLoadTest::fetch_failures()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    LoopbackServer server;
    server.redirect("/to-file", "file:///etc/passwd");
    server.redirect("/to-ftp", "ftp://127.0.0.1/");
    server.redirect("/loop", "/loop");
    server.redirect("/to-dead", "http://dead.test/");
    NetworkServices transfer(loopbackOnlyClient(), {10s, 1 << 20});

    const QString address = path == "refused"      ? LoopbackServer::refusedUrl()
                            : path.startsWith('/') ? server.url(path)
                                                   : path;
    const auto fetch = transfer.load(address, {});
    QVERIFY(finishes(*fetch));
    QVERIFY(fetch->failed());
    QCOMPARE(fetch->text(), QString());
    QCOMPARE(fetch->failureReason(), reason);
}

void NetworkLoadTest::fetch_tellsStatusOfFinalAnswer()
{
    LoopbackServer server;
    server.redirect("/moved", "/gone");
    server.page("/gone", "Sorry, nothing here", "text/html", 404);
    NetworkServices transfer;

    const auto fetch = transfer.load(server.url("/moved"), {});
    QVERIFY(finishes(*fetch));
    QVERIFY(!fetch->failed());
    QCOMPARE(fetch->httpStatus(), 404);
    QCOMPARE(fetch->statusText(), "Not Found");
    QCOMPARE(fetch->text(), "Sorry, nothing here");
    QCOMPARE(fetch->failureReason(), QString());
}

void NetworkLoadTest::fetch_busyAnswerAskedAgainOnce_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("retryAfter");
    QTest::addColumn<int>("timesBusy");
    QTest::addColumn<int>("finalStatus");
    QTest::addColumn<int>("requests");
    QTest::newRow("429, then the page") << 429 << QByteArray("1") << 1 << 200 << 2;
    QTest::newRow("503, then the page") << 503 << QByteArray("0") << 1 << 200 << 2;
    QTest::newRow("busy twice: asked once more only") << 429 << QByteArray("0") << 2 << 429 << 2;
    QTest::newRow("a wait longer than 10 s") << 503 << QByteArray("30") << 1 << 503 << 1;
    QTest::newRow("a wait longer than the time limit, which it does not count in")
            << 429 << QByteArray("3") << 1 << 200 << 2;
    QTest::newRow("500 is not asked again") << 500 << QByteArray("0") << 1 << 500 << 1;
}

void NetworkLoadTest::fetch_busyAnswerAskedAgainOnce()
{
    QFETCH(int, status);
    QFETCH(QByteArray, retryAfter);
    QFETCH(int, timesBusy);
    QFETCH(int, finalStatus);
    QFETCH(int, requests);
    LoopbackServer server;
    server.page("/page", "the page");
    server.busy("/page", timesBusy, status, retryAfter);
    NetworkServices transfer({2s});

    const auto fetch = transfer.load(server.url("/page"), {});
    QVERIFY(finishes(*fetch));
    QCOMPARE(fetch->httpStatus(), finalStatus);
    QCOMPARE(server.hits("/page"), requests);
    if (finalStatus == 200)
        QCOMPARE(fetch->text(), "the page");
}

void NetworkLoadTest::fetch_unfetchableAddressFailsAtOnce_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << "";
    QTest::newRow("no scheme") << "127.0.0.1/page.html";
    QTest::newRow("file") << "file:///etc/passwd";
    QTest::newRow("file transfer") << "ftp://127.0.0.1/";
    QTest::newRow("mail") << "mailto:someone@example.test";
    QTest::newRow("no host") << "http://";
    QTest::newRow("malformed host") << "http://[::1/";
    QTest::newRow("script") << "javascript:void(0)";
    QTest::newRow("spaces") << "   ";
}

void NetworkLoadTest::fetch_unfetchableAddressFailsAtOnce()
{
    QFETCH(QString, address);
    NetworkServices transfer;
    const auto fetch = transfer.load(address, {});
    QVERIFY(fetch);
    QVERIFY(fetch->isDone());
    QVERIFY(fetch->failed());
    QCOMPARE(fetch->text(), QString());
    const auto page = transfer.load(address, Page);
    QVERIFY(page->isDone());
    QCOMPARE(page->links(), QStringList());
}

void NetworkLoadTest::fetch_destroyedWhileRunningClosesConnection()
{
    LoopbackServer server;
    server.stall("/slow", "partial");
    NetworkServices transfer;

    auto fetch = transfer.load(server.url("/slow"), {});
    QTRY_COMPARE_WITH_TIMEOUT(server.trickling("/slow"), 1, hangBoundMs(10s));
    QVERIFY(!fetch->isDone());
    fetch.reset();
    QTRY_COMPARE_WITH_TIMEOUT(server.abandoned("/slow"), 1, hangBoundMs(10s));
}

// A page out of time has its links read as far as it arrived; its text is not given: both failed.
void NetworkLoadTest::load_trickleEndsAtTimeLimit()
{
    LoopbackServer server;
    server.stall("/slow.html", "<!doctype html><a href='early.html'>early</a>");
    NetworkServices service({1s});

    const auto page = service.load(server.url("/slow.html"), Page);
    const auto text = service.load(server.url("/slow.html"), {});
    QVERIFY(!page->isDone());
    QCOMPARE(page->links(), QStringList());
    QVERIFY(finishes(*page));
    QVERIFY(finishes(*text));
    QCOMPARE(page->links(), QStringList {server.url("/early.html")});
    QVERIFY(page->failed());
    QVERIFY(text->failed());
    QCOMPARE(text->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(server.abandoned("/slow.html"), 2, hangBoundMs(10s));
}

// A body over the cap is read up to it: the links of its start, the text of its start.
void NetworkLoadTest::load_bodyReadUpToCap()
{
    constexpr qint64 cap = 64 * 1024;
    QByteArray page = "<!doctype html><a href='early.html'>early</a><p>";
    page += QByteArray(cap, 'x');
    page += "<a href='late.html'>late</a>";
    LoopbackServer server;
    server.page("/big.html", page);
    NetworkServices service({60s, cap});

    QCOMPARE(linksOnceDone(service, server.url("/big.html")),
             QStringList {server.url("/early.html")});
    const auto text = service.load(server.url("/big.html"), {});
    QVERIFY(finishes(*text));
    QVERIFY(!text->failed());
    QCOMPARE(text->text(), QString::fromLatin1(page.first(cap)));
}

QTEST_GUILESS_MAIN(NetworkLoadTest)
#include "tst_networkload.moc"
