// The whole program against hostile and broken servers on loopback: pages that never end, that
// drip, that lie about their size, that inflate without end, that redirect out of the web, that are
// not HTTP at all. Whatever they do, the crawl, the check and the search end within their limits,
// in bounded memory, without reading anything but http and https, and the other pages of the site
// give the results they would give alone.
#include "support/hostileserver.h"
#include "support/networkwindow.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace std::chrono_literals;

namespace {

// Each load and fetch of these tests is held to this.
constexpr auto Limit = 2s;
// Time a load may overrun its limit before it counts as not ended by it: the limit runs out in a
// timer of the window's event loop, which a page being parsed may hold up. Scaled, it stays well
// below the half minute that the server's answers last when nothing ends them.
const auto Slack = hangBound(3s);
constexpr qint64 Cap = 1 << 20;
constexpr qint64 MemoryCeiling = qint64(512) << 20;

// A local file full of what a crawl must never see: links, an error text and a mark.
struct LocalFile
{
    static constexpr const char *Mark = "local-file-was-read";

    explicit LocalFile(const QString &linkedAddress)
    {
        QFile file(path());
        if (file.open(QIODevice::WriteOnly))
            file.write("<!doctype html><p>" + QByteArray(Mark) + " page not found</p><a href=\""
                       + linkedAddress.toUtf8() + "\">from a local file</a>");
    }
    QString path() const { return dir.filePath(QStringLiteral("secret.html")); }
    QString address() const { return QUrl::fromLocalFile(path()).toString(); }

    QTemporaryDir dir;
};

// Records whether the page text box ever shows `mark`.
struct TextWatch
{
    TextWatch(MultiLineTextBox *box, QString mark)
    {
        QObject::connect(box, &QPlainTextEdit::textChanged, box,
                         [this, box, mark] { seen = seen || box->toPlainText().contains(mark); });
    }
    bool seen = false;
};

QStringList withPrefix(const QString &prefix, const QStringList &paths)
{
    QStringList addresses;
    for (const QString &path : paths)
        addresses.append(prefix + path);
    return addresses;
}

} // namespace

class HostileTest final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void slowAndEndlessPages_endWithinTheLimitAndSpareTheRest();
    void brokenServers_giveNoLinksAndSpareTheRest();
    void connectionReset_midBody_neverReadAsWhole();
    void redirects_neverLeaveTheWeb();
    void legacyEncodings_linksAndErrorTextsReadRight_data();
    void legacyEncodings_linksAndErrorTextsReadRight();
};

void HostileTest::init()
{
    resetPeakResident();
}

// Each test's own peak, whatever the tests before it left in the heap.
void HostileTest::cleanup()
{
    const qint64 peak = peakResidentBytes();
    qInfo("FIGURE peak resident %lld MiB", peak >> 20);
    if (residentMemoryIsTheProgramsOwn)
        QVERIFY2(peak < MemoryCeiling, qPrintable(QString::number(peak >> 20) + " MiB"));
}

// Pages that drip, never end, claim a gigabyte, inflate to gigabytes or never answer: each ends
// at its limit or cap, closing its connection, and the good pages around them are read whole.
void HostileTest::slowAndEndlessPages_endWithinTheLimitAndSpareTheRest()
{
    HostileServer site;
    HostileServer other(QStringLiteral("127.0.0.2"));
    const QStringList hostile = {"/drip", "/endless", "/huge", "/gzip", "/silent"};
    site.page("/", linksPage(QStringList({"/good.html", "/missing.html"}) + hostile
                             + QStringList({other.url("/ext.html"), other.url("/drip")})));
    site.page("/good.html", linksPage({"/deeper.html", other.url("/ext2.html")}));
    site.page("/missing.html", linksPage({"/from-missing.html"}, "Page Not Found"), "text/html",
              404);
    site.drip("/drip", "<a href='/from-drip.html'>drip</a>");
    site.endless("/endless", "<a href='/from-endless.html'>endless</a>");
    site.hugeLength("/huge", "<a href='/from-huge.html'>huge</a>");
    site.gzipBomb("/gzip", "<a href='/from-gzip.html'>gzip</a>");
    site.silent("/silent");
    other.page("/ext.html", linksPage({}));
    other.drip("/drip", "<p>page not found");
    NetworkWindow w(Limit, Cap);
    const QString start = site.url("/");

    w.crawl(start);

    const QStringList internal = w.entries("lstInternal");
    for (const QString &page :
         withPrefix(start.chopped(1), {"/good.html", "/missing.html", "/drip", "/endless", "/huge",
                                       "/gzip", "/silent", "/deeper.html", "/from-missing.html"}))
        QVERIFY2(internal.contains(page), qPrintable(page));
    // What a page that was cut short held when it ended is read.
    QVERIFY(internal.contains(site.url("/from-drip.html")));
    QVERIFY(internal.contains(site.url("/from-endless.html")));
    QVERIFY(internal.contains(site.url("/from-huge.html")));
    QVERIFY(internal.contains(site.url("/from-gzip.html")));
    QCOMPARE(w.entries("lstExternal"),
             QStringList({other.url("/ext.html"), other.url("/drip"), other.url("/ext2.html")}));

    w.check();

    const QStringList broken = w.lines("txtBroken");
    QVERIFY(broken.contains(site.url("/missing.html")));
    QVERIFY(!broken.contains(site.url("/good.html")));
    QVERIFY(!broken.contains(other.url("/ext.html")));
    // Pages that could not be fetched whole within the limit are broken.
    QVERIFY(broken.contains(site.url("/drip")));
    QVERIFY(broken.contains(site.url("/silent")));
    QVERIFY(broken.contains(other.url("/drip")));

    w.findLinks(site.url("/deeper.html"));

    QCOMPARE(w.lines("txtLinksToPage"), QStringList {site.url("/good.html")});

    for (const QString &path : hostile) {
        QTRY_COMPARE_WITH_TIMEOUT(site.answering(path), 0, hangBoundMs(5s));
        QVERIFY2(site.hits(path) >= 3,
                 qPrintable(path + QStringLiteral(": %1 hits").arg(site.hits(path))));
        qInfo("FIGURE longest answer to %s: %lld ms", qPrintable(path),
              qlonglong(site.longestAnswer(path).count()));
        QVERIFY2(site.longestAnswer(path) < Limit + Slack, qPrintable(path));
    }
    QTRY_COMPARE_WITH_TIMEOUT(other.answering("/drip"), 0, hangBoundMs(5s));
    qInfo("FIGURE sent in answers to /endless: %lld MiB in %d answers", site.sent("/endless") >> 20,
          site.hits("/endless"));
    // The endless answers were cut by the client at the cap, long before their own bound.
    QVERIFY(site.sent("/endless") < 16 * Cap * site.hits("/endless"));
    QVERIFY(site.abandoned("/drip") >= 3);
    QVERIFY(site.abandoned("/silent") >= 3);
}

// Servers that answer garbage, reset the connection, redirect in a circle or send bytes that are
// no text: no links come from them, and the good pages are read as usual.
void HostileTest::brokenServers_giveNoLinksAndSpareTheRest()
{
    HostileServer site;
    QRandomGenerator random(7);
    QByteArray binary(256 * 1024, '\0');
    random.fillRange(reinterpret_cast<quint32 *>(binary.data()), binary.size() / 4);
    const QStringList broken = {"/garbage", "/garbage-line", "/reset", "/loop", "/ping", "/binary"};
    site.page("/", linksPage(QStringList({"/good.html", "/invalid-utf8.html"}) + broken));
    site.page("/good.html", linksPage({"/deeper.html"}));
    site.page("/deeper.html", linksPage({}));
    site.garbage("/garbage");
    site.garbage("/garbage-line", false);
    site.resetMidBody("/reset", "<a href='/from-reset.html'>reset</a>");
    site.redirect("/loop", "/loop");
    site.redirect("/ping", "/pong");
    site.redirect("/pong", site.url("/ping").toUtf8());
    site.page("/binary", binary, "text/html");
    site.page("/invalid-utf8.html",
              "<p>\xff\xfe\xc3(\xed\xa0\x80 page not found \xf8\x88\x80\x80\x80</p>"
              "<a href='/from-invalid-\xff.html'>x</a>",
              "text/html; charset=utf-8");
    NetworkWindow w(Limit, Cap);

    w.crawl(site.url("/"));

    const QStringList internal = w.entries("lstInternal");
    QCOMPARE(internal.mid(0, 8),
             withPrefix(site.url(""), QStringList({"/good.html", "/invalid-utf8.html"}) + broken));
    QVERIFY(internal.contains(site.url("/deeper.html")));
    // An invalid byte is read as U+FFFD, as a browser reads it.
    QVERIFY(internal.contains(site.url("/from-invalid-%EF%BF%BD.html")));
    QVERIFY(!internal.contains(site.url("/from-reset.html")));
    for (const QString &link : internal)
        QVERIFY2(link.startsWith(site.url("/")), qPrintable(link));
    QVERIFY(w.entries("lstExternal").isEmpty());
    QVERIFY(site.hits("/loop") <= 2 * 21);

    w.check();

    const QStringList brokenPages = w.lines("txtBroken");
    for (const char *path : {"/garbage", "/garbage-line", "/reset", "/loop", "/ping"})
        QVERIFY2(brokenPages.contains(site.url(QString::fromLatin1(path))), path);
    QVERIFY(brokenPages.contains(site.url("/invalid-utf8.html")));
    QVERIFY(!brokenPages.contains(site.url("/good.html")));
    QVERIFY(!brokenPages.contains(site.url("/deeper.html")));

    w.findLinks(site.url("/deeper.html"));
    QCOMPARE(w.lines("txtLinksToPage"), QStringList {site.url("/good.html")});

    for (const QString &path : broken)
        QTRY_COMPARE_WITH_TIMEOUT(site.answering(path), 0, hangBoundMs(5s));
    // Garbage is not read for ever: the client gave up on it long before its end.
    qInfo("FIGURE garbage sent before the client gave up: %lld KiB with line breaks, %lld KiB "
          "without",
          site.sent("/garbage") >> 10, site.sent("/garbage-line") >> 10);
    for (const char *path : {"/garbage", "/garbage-line"})
        QVERIFY(site.sent(QString::fromLatin1(path))
                < 32 * Cap * site.hits(QString::fromLatin1(path)));
}

// A connection reset in the middle of the body fails the load, every time, and says so. The loads
// go in rounds of as many as a walk keeps in flight, so that none runs out of time waiting its
// turn.
void HostileTest::connectionReset_midBody_neverReadAsWhole()
{
    constexpr int rounds = 25;
    constexpr int perRound = 8;
    HostileServer site;
    site.resetMidBody("/reset", "<a href='/from-reset.html'>reset</a> page not found");
    NetworkServices documents({Limit, Cap});
    NetworkServices &transfer = documents;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::unique_ptr<PageLoad>> pages;
        std::vector<std::unique_ptr<PageLoad>> fetches;
        for (int i = 0; i < perRound; ++i) {
            pages.push_back(documents.load(site.url("/reset"), {.mode = LoadMode::Page}));
            fetches.push_back(transfer.load(site.url("/reset"), {}));
        }
        for (int i = 0; i < perRound; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(pages[i]->isDone(), hangBoundMs(10s));
            QCOMPARE(pages[i]->links(), QStringList());
            QTRY_VERIFY_WITH_TIMEOUT(fetches[i]->isDone(), hangBoundMs(10s));
            QVERIFY(fetches[i]->failed());
            QCOMPARE(fetches[i]->failureReason(), "connection reset");
        }
    }
}

// A redirect to a local file, to file transfer, to a data: address or to script is not followed:
// nothing of the local file is read by the crawl, the check or the search.
void HostileTest::redirects_neverLeaveTheWeb()
{
    HostileServer site;
    LocalFile local(site.url("/from-file.html"));
    const QStringList away = {"/to-file", "/to-ftp", "/to-data", "/to-script", "/to-file-at-once"};
    site.page("/", linksPage(QStringList({"/good.html"}) + away));
    site.page("/good.html", linksPage({"/deeper.html"}));
    site.redirect("/to-file", "/to-file-at-once", 301);
    site.redirect("/to-file-at-once", local.address().toUtf8(), 307);
    site.redirect("/to-ftp",
                  "ftp://127.0.0.1:" + QByteArray::number(site.port()) + "/from-ftp.html");
    site.redirect("/to-data", "data:text/html,<a href=\"" + site.url("/from-data.html").toUtf8()
                                      + "\">page not found</a>");
    site.redirect("/to-script",
                  "javascript:location='" + site.url("/from-script.html").toUtf8() + "'");
    NetworkWindow w(Limit, Cap);
    TextWatch pageText(w.get<MultiLineTextBox>("txtHTML"), QString::fromLatin1(LocalFile::Mark));
    TextWatch brokenPages(w.get<MultiLineTextBox>("txtBroken"),
                          QString::fromLatin1(LocalFile::Mark));
    QVERIFY(QFile::exists(local.path()));

    w.crawl(site.url("/"));
    w.check();
    w.findLinks(site.url("/from-file.html"));

    QCOMPARE(w.entries("lstInternal"),
             withPrefix(site.url(""),
                        QStringList({"/good.html"}) + away + QStringList {"/deeper.html"}));
    QVERIFY(w.entries("lstExternal").isEmpty());
    QVERIFY(!pageText.seen);
    QVERIFY(!brokenPages.seen);
    QVERIFY(w.text("txtLinksToPage").isEmpty());
    // A redirect that is not followed leaves the page unfetched: it is broken.
    const QStringList broken = w.lines("txtBroken");
    for (const QString &path : away)
        QVERIFY2(broken.contains(site.url(path)), qPrintable(path));
    QVERIFY(!broken.contains(site.url("/good.html")));
    QCOMPARE(site.hits("/from-ftp.html"), 0);
    QCOMPARE(site.hits("/from-data.html"), 0);
    QCOMPARE(site.hits("/from-script.html"), 0);
}

void HostileTest::legacyEncodings_linksAndErrorTextsReadRight_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<QString>("linkPath");

    // "café.html" and "página no encontrada".
    const QByteArray windows1252 = "<!doctype html><p>\x93Ol\xe9!\x94 P\xc1GINA NO ENCONTRADA</p>"
                                   "<a href='/caf\xe9.html'>caf\xe9</a>";
    QTest::newRow("windows-1252 in the header")
            << QByteArray("text/html; charset=windows-1252") << windows1252
            << QStringLiteral("página no encontrada") << QStringLiteral("/caf%C3%A9.html");
    QTest::newRow("windows-1252 labelled latin1 in the page")
            << QByteArray("text/html") << "<meta charset=iso-8859-1>" + windows1252
            << QStringLiteral("página no encontrada") << QStringLiteral("/caf%C3%A9.html");

    // "ページ.html" and "ページが見つかりません" (page not found).
    const QByteArray shiftJis =
            "<p>\x83\x79\x81\x5b\x83\x57\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8"
            "\x82\xdc\x82\xb9\x82\xf1</p><a href='/\x83\x79\x81\x5b\x83\x57.html'>x</a>";
    QTest::newRow("Shift_JIS in the header") << QByteArray("text/html; charset=Shift_JIS")
                                             << shiftJis << QStringLiteral("ページが見つかりません")
                                             << QStringLiteral("/%E3%83%9A%E3%83%BC%E3%82%B8.html");
    QTest::newRow("Shift_JIS in the page")
            << QByteArray("text/html")
            << "<meta http-equiv='Content-Type' content='text/html; charset=shift_jis'>" + shiftJis
            << QStringLiteral("ページが見つかりません")
            << QStringLiteral("/%E3%83%9A%E3%83%BC%E3%82%B8.html");
}

// A page in a legacy encoding is read in it: its links, percent-encoded as a browser sends them,
// lead to the right page, and an error text in the user's language is found in it.
void HostileTest::legacyEncodings_linksAndErrorTextsReadRight()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, errorText);
    QFETCH(QString, linkPath);
    HostileServer site;
    site.page("/", linksPage({"/legacy.html", "/fine.html"}));
    site.page("/legacy.html", body, contentType);
    site.page("/fine.html", linksPage({linkPath}));
    site.page(linkPath, linksPage({}, "Welcome"));
    NetworkWindow w(Limit, Cap);
    w.list("lstErrors")->addItem(errorText);

    w.crawl(site.url("/"));
    QCOMPARE(w.entries("lstInternal"),
             withPrefix(site.url(""), {"/legacy.html", "/fine.html", linkPath}));

    w.check();
    // The link leads to the page the server serves under it.
    QCOMPARE(site.hits(linkPath), 1);
    QCOMPARE(w.lines("txtBroken"), QStringList {site.url("/legacy.html")});

    w.findLinks(site.url(linkPath));
    QCOMPARE(w.lines("txtLinksToPage"), withPrefix(site.url(""), {"/legacy.html", "/fine.html"}));
}

QTEST_MAIN(HostileTest)
#include "tst_hostile.moc"
