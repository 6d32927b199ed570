#include <net/networkservices.h>
#include <support/hangbound.h>
#include <support/loopbackserver.h>

#include <QTest>

#include <chrono>
#include <vector>

using namespace skarnel;

using namespace std::chrono_literals;

namespace {

bool completes(const HtmlDocument &document, std::chrono::milliseconds idle = 10s)
{
    return sleepUntil([&] { return document.readyState() == ReadyStateComplete; }, idle);
}

QStringList linksOnceComplete(HtmlDocumentService &service, const QString &address)
{
    const auto document = service.createDocumentFromUrl(address);
    if (!completes(*document))
        return {QStringLiteral("(still loading)")};
    return document->links();
}

} // namespace

class NetworkDocumentTest final : public QObject
{
    Q_OBJECT

private slots:
    void document_linksOfPage();
    void document_errorStatusPageRead();
    void document_redirectFollowedAndResolvedAgainstFinalAddress();
    void document_redirectToOtherSchemeNotFollowed_data();
    void document_redirectToOtherSchemeNotFollowed();
    void document_endlessRedirectsGiveNoLinks();
    void document_contentType_data();
    void document_contentType();
    void document_nonHtmlBodyNotDownloaded();
    void document_refusedConnectionGivesNoLinks();
    void document_unloadableAddressCompleteAtOnce_data();
    void document_unloadableAddressCompleteAtOnce();
    void document_trickleEndsAtTimeLimitWithLinksRead();
    void document_bodyReadUpToCap();
    void document_destroyedWhileLoadingClosesConnection();
    void document_outlivesService();
    void document_manyLoadsAtOnce();
    void document_destroyedWhileItsLinksAreReadIsLeftAlone();
};

void NetworkDocumentTest::document_linksOfPage()
{
    LoopbackServer server;
    server.page("/dir/page.html",
                "<!doctype html><title>t</title><a href='a.html'>a</a> <a href='/b.html'>b</a>"
                "<a href='https://other.test/c'>c</a><area href='#top'>");
    NetworkServices service;

    QCOMPARE(linksOnceComplete(service, server.url("/dir/page.html")),
             QStringList({server.url("/dir/a.html"), server.url("/b.html"), "https://other.test/c",
                          server.url("/dir/page.html#top")}));
}

void NetworkDocumentTest::document_errorStatusPageRead()
{
    LoopbackServer server;
    server.page("/missing", "<p>Not here. Try <a href='/home'>home</a>.", "text/html", 404);
    server.page("/failing", "<a href='/status'>status</a>", "text/html", 503);
    NetworkServices service;

    QCOMPARE(linksOnceComplete(service, server.url("/missing")), QStringList {server.url("/home")});
    QCOMPARE(linksOnceComplete(service, server.url("/failing")),
             QStringList {server.url("/status")});
}

void NetworkDocumentTest::document_redirectFollowedAndResolvedAgainstFinalAddress()
{
    LoopbackServer server;
    server.redirect("/old/start.html", "/moved/here.html", 301);
    server.redirect("/moved/here.html", server.url("/new/landing.html"), 307);
    server.page("/new/landing.html", "<a href='next.html'>next</a>");
    NetworkServices service;

    QCOMPARE(linksOnceComplete(service, server.url("/old/start.html")),
             QStringList {server.url("/new/next.html")});
}

void NetworkDocumentTest::document_redirectToOtherSchemeNotFollowed_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("file") << "file:///etc/passwd";
    QTest::newRow("file transfer") << "ftp://127.0.0.1/";
    QTest::newRow("data") << "data:text/html,<a href='http://127.0.0.1/'>x</a>";
}

void NetworkDocumentTest::document_redirectToOtherSchemeNotFollowed()
{
    QFETCH(QString, target);
    LoopbackServer server;
    server.redirect("/away", target);
    NetworkServices service;

    QCOMPARE(linksOnceComplete(service, server.url("/away")), QStringList());
}

void NetworkDocumentTest::document_endlessRedirectsGiveNoLinks()
{
    LoopbackServer server;
    server.redirect("/loop", "/loop");
    NetworkServices service;

    QCOMPARE(linksOnceComplete(service, server.url("/loop")), QStringList());
    QVERIFY(server.hits("/loop") > 1);
    QVERIFY(server.hits("/loop") <= 21);
}

void NetworkDocumentTest::document_contentType_data()
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

void NetworkDocumentTest::document_contentType()
{
    QFETCH(QByteArray, contentType);
    QFETCH(bool, read);
    LoopbackServer server;
    server.page("/page", "<a href='/x'>x</a>", contentType);
    NetworkServices service;

    QCOMPARE(linksOnceComplete(service, server.url("/page")),
             read ? QStringList {server.url("/x")} : QStringList());
}

void NetworkDocumentTest::document_nonHtmlBodyNotDownloaded()
{
    LoopbackServer server;
    server.stall("/data.txt", "<a href='/x'>x</a>", "text/plain");
    NetworkServices service({2 * hangBound(10s)});

    const auto document = service.createDocumentFromUrl(server.url("/data.txt"));
    // Far sooner than the load limit: the headers were enough.
    QVERIFY(completes(*document, 10s));
    QCOMPARE(document->links(), QStringList());
    QTRY_COMPARE_WITH_TIMEOUT(server.abandoned("/data.txt"), 1, hangBoundMs(10s));
}

void NetworkDocumentTest::document_refusedConnectionGivesNoLinks()
{
    NetworkServices service;
    QCOMPARE(linksOnceComplete(service, LoopbackServer::refusedUrl("/page.html")), QStringList());
}

void NetworkDocumentTest::document_unloadableAddressCompleteAtOnce_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << "";
    QTest::newRow("no scheme") << "127.0.0.1/page.html";
    QTest::newRow("file") << "file:///etc/passwd";
    QTest::newRow("file transfer") << "ftp://127.0.0.1/";
    QTest::newRow("mail") << "mailto:someone@example.test";
    QTest::newRow("script") << "javascript:void(0)";
    QTest::newRow("no host") << "http://";
    QTest::newRow("malformed host") << "http://[::1/";
    QTest::newRow("spaces") << "   ";
}

void NetworkDocumentTest::document_unloadableAddressCompleteAtOnce()
{
    QFETCH(QString, address);
    NetworkServices service;
    const auto document = service.createDocumentFromUrl(address);
    QVERIFY(document);
    QCOMPARE(document->readyState(), ReadyStateComplete);
    QCOMPARE(document->links(), QStringList());
}

void NetworkDocumentTest::document_trickleEndsAtTimeLimitWithLinksRead()
{
    LoopbackServer server;
    server.stall("/slow.html", "<!doctype html><a href='early.html'>early</a>");
    NetworkServices service({1s});

    const auto document = service.createDocumentFromUrl(server.url("/slow.html"));
    QCOMPARE(document->readyState(), ReadyStateLoading);
    QCOMPARE(document->links(), QStringList());
    QVERIFY(completes(*document));
    QCOMPARE(document->links(), QStringList {server.url("/early.html")});
    QTRY_COMPARE_WITH_TIMEOUT(server.abandoned("/slow.html"), 1, hangBoundMs(10s));
}

void NetworkDocumentTest::document_bodyReadUpToCap()
{
    constexpr qint64 cap = 64 * 1024;
    QByteArray page = "<!doctype html><a href='early.html'>early</a><p>";
    page += QByteArray(cap, 'x');
    page += "<a href='late.html'>late</a>";
    LoopbackServer server;
    server.page("/big.html", page);
    NetworkServices service({60s, cap});

    QCOMPARE(linksOnceComplete(service, server.url("/big.html")),
             QStringList {server.url("/early.html")});
}

void NetworkDocumentTest::document_destroyedWhileLoadingClosesConnection()
{
    LoopbackServer server;
    server.stall("/slow.html", "<!doctype html>");
    NetworkServices service;

    auto document = service.createDocumentFromUrl(server.url("/slow.html"));
    QTRY_COMPARE_WITH_TIMEOUT(server.trickling("/slow.html"), 1, hangBoundMs(10s));
    QCOMPARE(document->readyState(), ReadyStateLoading);
    document.reset();
    QTRY_COMPARE_WITH_TIMEOUT(server.abandoned("/slow.html"), 1, hangBoundMs(10s));
}

void NetworkDocumentTest::document_outlivesService()
{
    LoopbackServer server;
    server.page("/page.html", "<a href='a.html'>a</a>");
    auto service = std::make_unique<NetworkServices>();

    const auto document = service->createDocumentFromUrl(server.url("/page.html"));
    service.reset();
    QVERIFY(completes(*document));
    QCOMPARE(document->links(), QStringList {server.url("/a.html")});
}

void NetworkDocumentTest::document_manyLoadsAtOnce()
{
    constexpr int count = 24;
    LoopbackServer server;
    for (int i = 0; i < count; ++i)
        server.page(QStringLiteral("/%1.html").arg(i),
                    QStringLiteral("<a href='/to/%1'>%1</a>").arg(i).toUtf8());
    NetworkServices service;

    std::vector<std::unique_ptr<HtmlDocument>> documents;
    for (int i = 0; i < count; ++i)
        documents.push_back(
                service.createDocumentFromUrl(server.url(QStringLiteral("/%1.html").arg(i))));
    for (int i = 0; i < count; ++i) {
        QVERIFY(completes(*documents[i]));
        QCOMPARE(documents[i]->links(), QStringList {server.url(QStringLiteral("/to/%1").arg(i))});
    }
}

// Links are read on a worker thread once the download has ended. A document destroyed meanwhile,
// and its service, must be left alone by the worker, while the documents kept complete.
void NetworkDocumentTest::document_destroyedWhileItsLinksAreReadIsLeftAlone()
{
    constexpr int count = 12;
    QByteArray big = "<!doctype html>";
    for (int i = 0; i < 40000; ++i)
        big += "<p>text and <a href='/l" + QByteArray::number(i) + "'>a link</a></p>";
    LoopbackServer server;
    server.page("/big.html", big);
    auto service = std::make_unique<NetworkServices>();

    std::vector<std::unique_ptr<HtmlDocument>> documents;
    for (int i = 0; i < count; ++i)
        documents.push_back(service->createDocumentFromUrl(server.url("/big.html")));
    std::unique_ptr<HtmlDocument> kept = std::move(documents.front());
    documents.erase(documents.begin());
    // Once the first is read, the others are being downloaded or read.
    QVERIFY(completes(*kept));
    documents.clear();
    service.reset();
    QTest::qWait(300);
    QCOMPARE(kept->links().size(), 40000);
}

QTEST_GUILESS_MAIN(NetworkDocumentTest)
#include "tst_networkdocument.moc"
