// The whole program against pages of hostile size, at the real load limit and body cap: a page of
// 50 MB on one line, a page of 200,000 links, a page nested 100,000 elements deep, a gzip body that
// inflates to gigabytes, an address 64 KB long. Memory stays bounded, every command ends, and a
// stop given while one runs is obeyed.
#include "support/hostileserver.h"
#include "support/networkwindow.h"

#include <sys/resource.h>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

constexpr auto Limit = 60s;
constexpr qint64 Cap = 16 << 20;
constexpr qint64 MemoryCeiling = qint64(512) << 20;
// A command still running this long after a stop is hung. The page's links are still all recorded
// after a stop, which for 200,000 of them takes several seconds on a loaded machine.
const qint64 HangMs = hangBoundMs(15s);
// The window's event loop going this long without a turn is frozen.
const qint64 FreezeMs = hangBoundMs(2s);

// The longest time the window's event loop went without turning while `command` ran: how long the
// window was frozen at worst.
qint64 longestFreezeMs(const std::function<void()> &command)
{
    QElapsedTimer sinceTurn;
    qint64 longest = 0;
    QTimer beat;
    beat.setInterval(20);
    QObject::connect(&beat, &QTimer::timeout,
                     [&] { longest = std::max(longest, sinceTurn.restart()); });
    sinceTurn.start();
    beat.start();
    command();
    return std::max(longest, sinceTurn.elapsed());
}

} // namespace

class HostileSizesTest final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void singleLineOf50MB_readUpToTheCap();
    void twoHundredThousandLinks_allRecorded();
    void twoHundredThousandLinks_stopObeyedWhileRecording_data();
    void twoHundredThousandLinks_stopObeyedWhileRecording();
    void deepNesting_endsWithinTheParseBudget();
    void elementsOnly_parseGivenUpInBoundedMemory_data();
    void elementsOnly_parseGivenUpInBoundedMemory();
    void elementsOnly_severalPagesAtOnceInBoundedMemory();
    void deepNesting_stopLeavesNoParsingBehind();
    void gzipBomb_inflatesNoFurtherThanTheCap();
    void addressOf64KB_crawledCheckedAndFound();
    void addressesOfAMegabyte_listedWithoutFreezing();
};

void HostileSizesTest::init()
{
    resetPeakResident();
}

// Each test's own peak, whatever the tests before it left in the heap.
void HostileSizesTest::cleanup()
{
    const qint64 peak = peakResidentBytes();
    qInfo("FIGURE peak resident %lld MiB", peak >> 20);
    if (residentMemoryIsTheProgramsOwn)
        QVERIFY2(peak < MemoryCeiling, qPrintable(QString::number(peak >> 20) + " MiB"));
}

void HostileSizesTest::singleLineOf50MB_readUpToTheCap()
{
    HostileServer site;
    QByteArray big = "<!doctype html><p><a href='/early.html'>early</a>";
    big += QByteArray(50'000'000, 'x');
    big += "<a href='/late.html'>late</a>";
    site.page("/", linksPage({"/big.html"}));
    site.page("/big.html", big);
    big.clear();
    NetworkWindow w(Limit, Cap);
    w.window.show();

    const qint64 crawlFreeze = longestFreezeMs([&] { w.crawl(site.url("/")); });
    QCOMPARE(w.entries("lstInternal"),
             QStringList({site.url("/big.html"), site.url("/early.html")}));

    const qint64 checkFreeze = longestFreezeMs([&] { w.check(); });
    // The last page checked, /early.html, is not served: its 404 makes it broken, and its empty
    // body is the page text.
    QCOMPARE(w.lines("txtBroken"), QStringList {site.url("/early.html")});
    QCOMPARE(w.text("txtHTML").size(), 0);

    w.findLinks(site.url("/early.html"));
    QCOMPARE(w.lines("txtLinksToPage"), QStringList {site.url("/big.html")});
    qInfo("FIGURE 50 MB line: window frozen at most %lld ms in the crawl, %lld ms in the check",
          crawlFreeze, checkFreeze);
    QVERIFY2(crawlFreeze < FreezeMs, qPrintable(QString::number(crawlFreeze)));
    QVERIFY2(checkFreeze < FreezeMs, qPrintable(QString::number(checkFreeze)));
    QVERIFY(site.sent("/big.html") < 3 * 51'000'000);
}

void HostileSizesTest::twoHundredThousandLinks_allRecorded()
{
    constexpr int count = 200'000;
    HostileServer site;
    HostileServer other(QStringLiteral("127.0.0.2"));
    QStringList hrefs;
    hrefs.reserve(count);
    for (int i = 0; i < count; ++i)
        hrefs.append(other.url(QStringLiteral("/%1").arg(i)));
    site.page("/many.html", linksPage(hrefs));
    NetworkWindow w(Limit, Cap);
    w.window.show();

    QElapsedTimer took;
    took.start();
    w.crawl(site.url("/many.html"));
    qInfo("FIGURE 200,000 links recorded in %lld ms", took.elapsed());

    QCOMPARE(w.list("lstExternal")->count(), count);
    QCOMPARE(w.list("lstExternal")->text(count - 1), hrefs.last());
    QCOMPARE(w.caption("lblExternal"), QStringLiteral("External links: 200000"));
    QCOMPARE(w.caption("lblTotal"), QStringLiteral("Total links: 200000"));
    // Nothing of the other site was loaded: its pages are external.
    QCOMPARE(other.hits(QStringLiteral("/0")), 0);
}

void HostileSizesTest::twoHundredThousandLinks_stopObeyedWhileRecording_data()
{
    QTest::addColumn<QString>("interruption");
    QTest::newRow("Force Stop") << "mnuForceStop";
    QTest::newRow("New") << "mnuNew";
    QTest::newRow("Exit") << "mnuExit";
}

// Recording a page's links gives the window its turn after each one; a stop given then takes effect
// at once, however many links are left to record.
void HostileSizesTest::twoHundredThousandLinks_stopObeyedWhileRecording()
{
    QFETCH(QString, interruption);
    constexpr int count = 200'000;
    HostileServer site;
    QStringList hrefs;
    for (int i = 0; i < count; ++i)
        hrefs.append(QStringLiteral("/page/%1").arg(i));
    site.page("/", linksPage(hrefs));
    NetworkWindow w(Limit, Cap);
    w.window.show();

    const InterruptedRun stop =
            interruptWhen([&] { return w.list("lstInternal")->count() >= 1000; },
                          [&] { w.trigger(interruption.toLatin1().constData()); },
                          [&] { w.crawl(site.url("/")); });

    QVERIFY(stop.happened);
    qInfo("FIGURE %s while recording 200,000 links: control back in %lld ms",
          qPrintable(interruption), stop.toReturnMs);
    QVERIFY2(stop.toReturnMs < HangMs, qPrintable(QString::number(stop.toReturnMs)));
    // The page's links were still recorded (after New, into the emptied lists), but no internal
    // page was loaded after the stop.
    const qsizetype listed = w.list("lstInternal")->count() + w.list("lstExternal")->count();
    QCOMPARE(w.caption("lblTotal"), QStringLiteral("Total links: %1").arg(listed));
    if (interruption != u"mnuNew")
        QCOMPARE(listed, count);
    QCOMPARE(site.hits(QStringLiteral("/page/0")), 0);
}

// A page nested so deep that the parser would need minutes is given up at the parse budget, and a
// page as deep whose elements are cheap to nest is read whole.
void HostileSizesTest::deepNesting_endsWithinTheParseBudget()
{
    constexpr int depth = 100'000;
    HostileServer site;
    QByteArray divs = "<!doctype html><a href='/before-divs.html'>x</a>";
    QByteArray spans = "<!doctype html><a href='/before-spans.html'>x</a>";
    for (int i = 0; i < depth; ++i) {
        divs += "<div>";
        spans += "<span>";
    }
    divs += "<a href='/inside-divs.html'>x</a>";
    spans += "<a href='/inside-spans.html'>x</a>";
    site.page("/", linksPage({"/divs.html", "/spans.html"}));
    site.page("/divs.html", divs);
    site.page("/spans.html", spans);
    NetworkWindow w(Limit, Cap);
    w.window.show();

    QElapsedTimer took;
    took.start();
    const qint64 freeze = longestFreezeMs([&] { w.crawl(site.url("/")); });
    qInfo("FIGURE 100,000 deep: crawl took %lld ms, window frozen at most %lld ms", took.elapsed(),
          freeze);
    QVERIFY2(freeze < FreezeMs, qPrintable(QString::number(freeze)));

    const QStringList internal = w.entries("lstInternal");
    QVERIFY(internal.contains(site.url("/before-spans.html")));
    QVERIFY(internal.contains(site.url("/inside-spans.html")));
    QVERIFY(!internal.contains(site.url("/inside-divs.html")));
}

void HostileSizesTest::elementsOnly_parseGivenUpInBoundedMemory_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::newRow("paragraphs") << QByteArray("<p>");
    QTest::newRow("links") << QByteArray("<a href=1>");
    QTest::newRow("attributes") << QByteArray("<x a=1 b=2 c=3>");
}

// A page of 16 MiB that is one element after another would take the parser over a gigabyte: it is
// given up, and the page has no links, while the other pages of the site are read.
void HostileSizesTest::elementsOnly_parseGivenUpInBoundedMemory()
{
    QFETCH(QByteArray, element);
    HostileServer site;
    QByteArray page = "<!doctype html><a href='/first.html'>x</a>";
    page.reserve(Cap);
    while (page.size() + element.size() <= Cap)
        page += element;
    site.page("/", linksPage({"/elements.html", "/fine.html"}));
    site.page("/elements.html", page);
    site.page("/fine.html", linksPage({"/from-fine.html"}));
    page.clear();
    NetworkWindow w(Limit, Cap);

    w.crawl(site.url("/"));

    QCOMPARE(w.entries("lstInternal"),
             QStringList({site.url("/elements.html"), site.url("/fine.html"),
                          site.url("/from-fine.html")}));
}

// Pages loaded ahead are read together: several pages of bare elements at once stay within the
// same bound as one.
void HostileSizesTest::elementsOnly_severalPagesAtOnceInBoundedMemory()
{
    constexpr int pages = 4;
    HostileServer site;
    QByteArray page = "<!doctype html>";
    page.reserve(Cap);
    while (page.size() + 15 <= Cap)
        page += "<x a=1 b=2 c=3>";
    // One page under several addresses: the server answers a path whatever its query.
    site.page("/elements.html", page);
    QStringList hrefs;
    for (int i = 0; i < pages; ++i)
        hrefs.append(QStringLiteral("/elements.html?%1").arg(i));
    site.page("/", linksPage(hrefs));
    page.clear();
    NetworkWindow w(Limit, Cap);

    w.crawl(site.url("/"));

    QCOMPARE(w.list("lstInternal")->count(), pages);
}

// Pages that take the parser its whole time budget are abandoned with their commands: once a stop
// has ended the crawl, the program does no more work.
void HostileSizesTest::deepNesting_stopLeavesNoParsingBehind()
{
    constexpr int pages = 4;
    HostileServer site;
    QByteArray divs = "<!doctype html>";
    for (int i = 0; i < 100'000; ++i)
        divs += "<div>";
    QStringList hrefs;
    for (int i = 0; i < pages; ++i) {
        hrefs.append(QStringLiteral("/divs%1.html").arg(i));
        site.page(hrefs.last(), divs);
    }
    site.page("/", linksPage(hrefs));
    NetworkWindow w(Limit, Cap);
    const auto allServed = [&] {
        return std::all_of(hrefs.cbegin(), hrefs.cend(), [&](const QString &path) {
            return site.hits(path) == 1 && site.answering(path) == 0;
        });
    };

    const InterruptedRun stop = interruptWhen(
            allServed, [&] { w.trigger("mnuForceStop"); }, [&] { w.crawl(site.url("/")); });
    QVERIFY(stop.happened);

    // Processor time spent over a second and a half of idleness after the stop.
    const auto cpuMs = [] {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
               + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    };
    const qint64 before = cpuMs();
    QTest::qWait(1500);
    const qint64 spent = cpuMs() - before;
    qInfo("FIGURE processor time over 1.5 s after the stop: %lld ms", spent);
    QVERIFY2(spent < 500 * hangBoundFactor(), qPrintable(QString::number(spent)));
}

void HostileSizesTest::gzipBomb_inflatesNoFurtherThanTheCap()
{
    HostileServer site;
    site.page("/", linksPage({"/bomb.html"}));
    site.gzipBomb("/bomb.html", "<a href='/from-bomb.html'>x</a>", "text/html",
                  4 * HostileServer::GiB);
    NetworkWindow w(Limit, Cap);

    QElapsedTimer took;
    took.start();
    w.crawl(site.url("/"));
    w.check();
    qInfo("FIGURE gzip bomb crawled and checked in %lld ms", took.elapsed());

    // The page is read as far as the cap, like any long page.
    QCOMPARE(w.entries("lstInternal"),
             QStringList({site.url("/bomb.html"), site.url("/from-bomb.html")}));
    QCOMPARE(w.lines("txtBroken"), QStringList {site.url("/from-bomb.html")}); // not served: 404
    QTRY_COMPARE_WITH_TIMEOUT(site.answering("/bomb.html"), 0, hangBoundMs(5s));
}

// An address of 64 KB is recorded, loaded, checked and found like any other.
void HostileSizesTest::addressOf64KB_crawledCheckedAndFound()
{
    HostileServer site;
    const QString longPath =
            QStringLiteral("/long/") + QString(64 * 1024, u'a') + QStringLiteral(".html");
    site.page("/", linksPage({longPath}));
    site.page(longPath, linksPage({"/after-long.html"}, "page not found"));
    NetworkWindow w(Limit, Cap);
    w.window.show();

    w.crawl(site.url("/"));
    QCOMPARE(w.entries("lstInternal"),
             QStringList({site.url(longPath), site.url("/after-long.html")}));
    QCOMPARE(site.hits(longPath), 1);

    w.check();
    // /after-long.html is not served: its 404 counts it broken too.
    QCOMPARE(w.lines("txtBroken"), QStringList({site.url(longPath), site.url("/after-long.html")}));

    w.findLinks(site.url("/after-long.html"));
    QCOMPARE(w.lines("txtLinksToPage"), QStringList {site.url(longPath)});
}

// The lists show addresses of any length; a long one is drawn cut short, and drawing it costs no
// more than drawing a short one.
void HostileSizesTest::addressesOfAMegabyte_listedWithoutFreezing()
{
    constexpr int count = 8;
    HostileServer site;
    HostileServer other(QStringLiteral("127.0.0.2"));
    QStringList hrefs;
    for (int i = 0; i < count; ++i)
        hrefs.append(other.url(QStringLiteral("/%1/").arg(i) + QString(1 << 20, u'm')));
    site.page("/", linksPage(hrefs));
    NetworkWindow w(Limit, Cap);
    w.window.show();

    const qint64 freeze = longestFreezeMs([&] { w.crawl(site.url("/")); });
    qInfo("FIGURE addresses of 1 MiB: window frozen at most %lld ms", freeze);

    QCOMPARE(w.entries("lstExternal"), hrefs);
    QVERIFY2(freeze < FreezeMs, qPrintable(QString::number(freeze)));

    // Drawn as the same address cut to a few thousand characters is: its start, then an ellipsis.
    ListBox *list = w.list("lstExternal");
    const qsizetype current = list->currentIndex();
    const QImage whole = list->grab().toImage();
    list->clear();
    for (const QString &href : hrefs)
        list->addItem(href.first(4000));
    list->setCurrentIndex(current);
    QCOMPARE(list->grab().toImage(), whole);
}

QTEST_MAIN(HostileSizesTest)
#include "tst_hostile_sizes.moc"
