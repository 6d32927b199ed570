#include <net/networkservices.h>
#include <support/hangbound.h>
#include <support/loopbackclient.h>
#include <support/loopbackserver.h>

#include <QTest>

#include <chrono>

using namespace skarnel;

using namespace std::chrono_literals;

namespace {

bool finishes(const PageFetch &fetch, std::chrono::milliseconds idle = 10s)
{
    return sleepUntil([&] { return fetch.isFinished(); }, idle);
}

} // namespace

class NetworkTransferTest final : public QObject
{
    Q_OBJECT

private slots:
    void fetch_bodyOfPage_data();
    void fetch_bodyOfPage();
    void fetch_redirectFollowed();
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
    void fetch_trickleFailsAtTimeLimit();
    void fetch_bodyCutAtCap();
    void fetch_destroyedWhileRunningClosesConnection();
};

void NetworkTransferTest::fetch_bodyOfPage_data()
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

void NetworkTransferTest::fetch_bodyOfPage()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(int, status);
    QFETCH(QString, text);
    LoopbackServer server;
    server.page("/page", body, contentType, status);
    NetworkServices transfer;

    const auto fetch = transfer.openUrl(server.url("/page"));
    QVERIFY(!fetch->isFinished());
    QCOMPARE(fetch->text(), QString());
    QVERIFY(finishes(*fetch));
    QVERIFY(!fetch->failed());
    QCOMPARE(fetch->text(), text);
}

void NetworkTransferTest::fetch_redirectFollowed()
{
    LoopbackServer server;
    server.redirect("/old", "/new", 301);
    server.page("/new", "moved here");
    NetworkServices transfer;

    const auto fetch = transfer.openUrl(server.url("/old"));
    QVERIFY(finishes(*fetch));
    QVERIFY(!fetch->failed());
    QCOMPARE(fetch->text(), "moved here");
}

void NetworkTransferTest::fetch_tellsFirstRedirectAndFinalAddress_data()
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

void NetworkTransferTest::fetch_tellsFirstRedirectAndFinalAddress()
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
    const auto fetch = transfer.openUrl(address);
    QVERIFY(finishes(*fetch));
    QCOMPARE(fetch->httpStatus(), 200);
    QCOMPARE(fetch->text(), "here");
    QCOMPARE(fetch->redirectKind(), kind);
    QCOMPARE(fetch->finalAddress(), server.url("/page"));
}

// The body of a headers-only fetch is never read: a stalled one would not finish.
void NetworkTransferTest::fetch_headersOnly_data()
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

void NetworkTransferTest::fetch_headersOnly()
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

    const auto fetch = transfer.openUrl(server.url(path), FetchMode::HeadersOnly);
    QVERIFY(finishes(*fetch));
    QVERIFY(!fetch->failed());
    QCOMPARE(fetch->httpStatus(), status);
    QCOMPARE(fetch->text(), QString());
    QCOMPARE(server.methods(path == "/moved" ? "/page" : path), methods);
    QCOMPARE(fetch->finalAddress(), server.url(path == "/moved" ? "/page" : path));
}

void NetworkTransferTest::fetch_failures_data()
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

void NetworkTransferTest::fetch_failures()
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
    const auto fetch = transfer.openUrl(address);
    QVERIFY(finishes(*fetch));
    QVERIFY(fetch->failed());
    QCOMPARE(fetch->text(), QString());
    QCOMPARE(fetch->failureReason(), reason);
}

// The status is that of the answer at the end of the redirects, with its body: an error page is
// fetched like any other.
void NetworkTransferTest::fetch_tellsStatusOfFinalAnswer()
{
    LoopbackServer server;
    server.redirect("/moved", "/gone");
    server.page("/gone", "Sorry, nothing here", "text/html", 404);
    NetworkServices transfer;

    const auto fetch = transfer.openUrl(server.url("/moved"));
    QVERIFY(finishes(*fetch));
    QVERIFY(!fetch->failed());
    QCOMPARE(fetch->httpStatus(), 404);
    QCOMPARE(fetch->statusText(), "Not Found");
    QCOMPARE(fetch->text(), "Sorry, nothing here");
    QCOMPARE(fetch->failureReason(), QString());
}

void NetworkTransferTest::fetch_busyAnswerAskedAgainOnce_data()
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

void NetworkTransferTest::fetch_busyAnswerAskedAgainOnce()
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

    const auto fetch = transfer.openUrl(server.url("/page"));
    QVERIFY(finishes(*fetch));
    QCOMPARE(fetch->httpStatus(), finalStatus);
    QCOMPARE(server.hits("/page"), requests);
    if (finalStatus == 200)
        QCOMPARE(fetch->text(), "the page");
}

void NetworkTransferTest::fetch_unfetchableAddressFailsAtOnce_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << "";
    QTest::newRow("no scheme") << "127.0.0.1/page.html";
    QTest::newRow("file") << "file:///etc/passwd";
    QTest::newRow("file transfer") << "ftp://127.0.0.1/";
    QTest::newRow("mail") << "mailto:someone@example.test";
    QTest::newRow("no host") << "http://";
    QTest::newRow("malformed host") << "http://[::1/";
}

void NetworkTransferTest::fetch_unfetchableAddressFailsAtOnce()
{
    QFETCH(QString, address);
    NetworkServices transfer;
    const auto fetch = transfer.openUrl(address);
    QVERIFY(fetch);
    QVERIFY(fetch->isFinished());
    QVERIFY(fetch->failed());
    QCOMPARE(fetch->text(), QString());
}

void NetworkTransferTest::fetch_trickleFailsAtTimeLimit()
{
    LoopbackServer server;
    server.stall("/slow", "partial");
    NetworkServices transfer({1s});

    const auto fetch = transfer.openUrl(server.url("/slow"));
    QVERIFY(finishes(*fetch));
    QVERIFY(fetch->failed());
    QCOMPARE(fetch->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(server.abandoned("/slow"), 1, hangBoundMs(10s));
}

void NetworkTransferTest::fetch_bodyCutAtCap()
{
    constexpr qint64 cap = 64 * 1024;
    QByteArray body;
    for (int i = 0; body.size() < 3 * cap; ++i)
        body += QByteArray::number(i) + ' ';
    LoopbackServer server;
    server.page("/big.txt", body, "text/plain");
    NetworkServices transfer({60s, cap});

    const auto fetch = transfer.openUrl(server.url("/big.txt"));
    QVERIFY(finishes(*fetch));
    QVERIFY(!fetch->failed());
    QCOMPARE(fetch->text(), QString::fromLatin1(body.first(cap)));
}

void NetworkTransferTest::fetch_destroyedWhileRunningClosesConnection()
{
    LoopbackServer server;
    server.stall("/slow", "partial");
    NetworkServices transfer;

    auto fetch = transfer.openUrl(server.url("/slow"));
    QTRY_COMPARE_WITH_TIMEOUT(server.trickling("/slow"), 1, hangBoundMs(10s));
    QVERIFY(!fetch->isFinished());
    fetch.reset();
    QTRY_COMPARE_WITH_TIMEOUT(server.abandoned("/slow"), 1, hangBoundMs(10s));
}

QTEST_GUILESS_MAIN(NetworkTransferTest)
#include "tst_networktransfer.moc"
