#include "support/windowharness.h"

#include <QAbstractEventDispatcher>

using namespace std::chrono_literals;

namespace {

// The text of a label each time it is drawn.
class PaintedCaptions final : public QObject
{
public:
    explicit PaintedCaptions(QLabel *label)
        : label(label)
    {
        label->installEventFilter(this);
    }
    QStringList texts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == label && event->type() == QEvent::Paint)
            texts.append(label->text());
        return false;
    }

private:
    QLabel *label = nullptr;
};

} // namespace

class CrawlTest final : public QObject
{
    Q_OBJECT

private slots:
    void crawl_recordsStartPageAndInternalPages();
    void crawl_secureSiteIsRecorded();
    void crawl_secondRunWithoutNewGoesOneLevelDeeper();
    void crawl_levelsAPressGoes_data();
    void crawl_levelsAPressGoes();
    void crawl_duplicateScanLeavesLastEarlierEntrySelected();
    void crawl_countsPastSixteenBits();
    void crawl_spacesOnlyAddressChangesNothing();
    void crawl_emptyStartPageEnablesCheck();
    void crawl_busyPointerWhilePageLoads();
    void forceStop_whileStartPageLoads_recordsItsLinksAndLoadsNoMore();
    void forceStop_betweenPages_skipsThePageAndEndsAtTheNext();
    void forceStop_withNothingRunning_enablesCheck();
    void crawl_nestedFromMenuRunsToItsEndInside();
    void new_duringCrawl_endsItAndRecordsIntoEmptiedLists();
    void closeBox_duringCrawl_endsIt();
    void wait_sleepsUntilSomethingHappens();
    void window_drawsWhatTheCrawlRecordedWhileItRuns();
    void addressEdit_duringCrawl_appliesFromTheNextLink();
    void origins_keepFirstHundredPagesAndCountAll();
    void origins_countEachPageOnceAcrossCrawls();
};

void CrawlTest::crawl_recordsStartPageAndInternalPages()
{
    WindowHarness h;
    h.documents.setPage(Start, {at("/a"), at("/b"), "http://other.test/x", "mailto:me@site.test",
                                at("/a#top"), "HTTP://site.test/caps", "http://a.bcd", at("/a")});
    h.documents.setPage(at("/a"),
                        {at("/c"), at("/b"), "http://other.test/x", "https://secure.test/y"});
    h.documents.setPage(at("/b"), {at("/a")});

    h.crawl(Start);

    QCOMPARE(h.entries("lstInternal"), QStringList({at("/a"), at("/b"), at("/c")}));
    QCOMPARE(h.entries("lstExternal"),
             QStringList({"http://other.test/x", "https://secure.test/y"}));
    // /c was found on a second-level page: recorded, not loaded.
    QCOMPARE(h.documents.consumed, QStringList({Start, at("/a"), at("/b")}));
    QCOMPARE(h.caption("lblInternal"), "Internal links: 3");
    QCOMPARE(h.caption("lblExternal"), "External links: 2");
    QCOMPARE(h.caption("lblTotal"), "Total links: 5");
    QVERIFY(h.button("cmdCheckBroken")->isEnabled());
    QVERIFY(h.button("cmdForceStop")->isEnabled());
    QVERIFY(h.button("cmdCrawl")->isEnabled());
    QVERIFY(h.get<QLineEdit>("txtAddress")->isEnabled());
    QVERIFY(!h.window.stopRequested());
    QCOMPARE(h.documents.liveDocuments(), 0);
}

void CrawlTest::crawl_secureSiteIsRecorded()
{
    WindowHarness h;
    const QString start = QStringLiteral("https://secure.test/");
    h.documents.setPage(
            start, {"https://secure.test/a", "https://elsewhere.test/", "http://secure.test/b"});

    h.crawl(start);

    QCOMPARE(h.entries("lstInternal"), QStringList({"https://secure.test/a"}));
    QCOMPARE(h.entries("lstExternal"),
             QStringList({"https://elsewhere.test/", "http://secure.test/b"}));
    QCOMPARE(h.documents.consumed, QStringList({start, "https://secure.test/a"}));
}

void CrawlTest::crawl_secondRunWithoutNewGoesOneLevelDeeper()
{
    WindowHarness h;
    h.documents.setPage(Start, {at("/a")});
    h.documents.setPage(at("/a"), {at("/b"), "http://other.test/"});
    h.documents.setPage(at("/b"), {at("/c"), "http://other.test/"});

    h.crawl(Start);
    h.documents.requested.clear();
    h.documents.consumed.clear();
    h.crawl(Start);

    QCOMPARE(h.documents.consumed, QStringList({Start, at("/a"), at("/b")}));
    QCOMPARE(h.entries("lstInternal"), QStringList({at("/a"), at("/b"), at("/c")}));
    QCOMPARE(h.entries("lstExternal"), QStringList({"http://other.test/"}));
    QCOMPARE(h.caption("lblTotal"), "Total links: 4");
}

void CrawlTest::crawl_levelsAPressGoes_data()
{
    QTest::addColumn<int>("levels");
    QTest::addColumn<QStringList>("first");  // the pages the first press loads
    QTest::addColumn<QStringList>("second"); // and the second
    QTest::newRow("1, as ever") << 1 << QStringList {Start, at("/a")}
                                << QStringList {Start, at("/a"), at("/b")};
    QTest::newRow("2") << 2 << QStringList {Start, at("/a"), at("/b")}
                       << QStringList {at("/c"), at("/d")};
    QTest::newRow("all") << int(CheckSettings::AllLevels)
                         << QStringList {Start, at("/a"), at("/b"), at("/c"), at("/d"), at("/e")}
                         << QStringList();
}

// Beyond one level a press loads each page once, and the next press goes on from there.
void CrawlTest::crawl_levelsAPressGoes()
{
    QFETCH(int, levels);
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    WindowHarness h;
    CheckSettings settings;
    settings.crawlLevels = levels;
    h.window.setSettings(settings);
    const QStringList chain = {Start, at("/a"), at("/b"), at("/c"), at("/d"), at("/e")};
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
        h.documents.setPage(chain.at(i), {chain.at(i + 1)});

    h.crawl(Start);
    QCOMPARE(h.documents.consumed, first);
    QCOMPARE(h.documents.requested, first);
    h.documents.requested.clear();
    h.documents.consumed.clear();
    h.crawl(Start);
    QCOMPARE(h.documents.consumed, second);
}

void CrawlTest::crawl_duplicateScanLeavesLastEarlierEntrySelected()
{
    WindowHarness h;
    // The start page's last external link is new: the scan selected the entry before it.
    h.documents.setPage(Start, {"http://one.test/", "http://two.test/"});
    h.crawl(Start);
    QCOMPARE(h.list("lstExternal")->currentIndex(), 0);

    // A repeated link selects the last entry and adds nothing.
    h.documents.setPage(Start, {"http://one.test/", "http://three.test/", "http://one.test/"});
    h.crawl(Start);
    QCOMPARE(h.entries("lstExternal"),
             QStringList({"http://one.test/", "http://two.test/", "http://three.test/"}));
    QCOMPARE(h.list("lstExternal")->currentIndex(), 2);

    // Letter case makes a new address.
    h.documents.setPage(Start, {"http://ONE.test/"});
    h.crawl(Start);
    QCOMPARE(h.list("lstExternal")->count(), 4);
}

void CrawlTest::crawl_countsPastSixteenBits()
{
    WindowHarness h;
    QStringList links;
    for (int i = 0; i < 33000; ++i)
        links.append(at("/page") + QString::number(i));
    h.documents.setPage(Start, links);
    // Stop once the start page is done, so the internal pages are not all loaded.
    h.documents.onWait = [&](const QString &address) {
        if (address != Start)
            soon([&] { h.trigger("mnuForceStop"); });
    };

    h.crawl(Start);

    QCOMPARE(h.list("lstInternal")->count(), 33000);
    QCOMPARE(h.caption("lblInternal"), "Internal links: 33000");
    QCOMPARE(h.caption("lblTotal"), "Total links: 33000");
}

void CrawlTest::crawl_spacesOnlyAddressChangesNothing()
{
    WindowHarness h;
    h.trigger("mnuForceStop");
    QVERIFY(h.window.stopRequested());

    h.crawl(QStringLiteral("   "));

    QVERIFY(h.documents.requested.isEmpty());
    QVERIFY(h.window.stopRequested());
    QVERIFY(h.button("cmdCrawl")->isEnabled());
    QVERIFY(!h.button("cmdForceStop")->isEnabled());
}

void CrawlTest::crawl_emptyStartPageEnablesCheck()
{
    WindowHarness h;
    h.crawl(Start);
    QCOMPARE(h.documents.consumed, QStringList({Start}));
    QVERIFY(h.button("cmdCheckBroken")->isEnabled());
    QVERIFY(h.button("cmdForceStop")->isEnabled());
    QCOMPARE(h.caption("lblTotal"), "Total links: 0");
}

void CrawlTest::crawl_busyPointerWhilePageLoads()
{
    WindowHarness h;
    h.documents.holdPage(Start);
    bool busyWhileLoading = false;
    bool crawlDisabledWhileLoading = false;
    h.documents.onWait = [&](const QString &) {
        soon([&] {
            busyWhileLoading = h.window.cursor().shape() == Qt::WaitCursor;
            crawlDisabledWhileLoading = !h.button("cmdCrawl")->isEnabled()
                                        && !h.get<QLineEdit>("txtAddress")->isEnabled();
            h.documents.release(Start);
        });
    };

    h.crawl(Start);

    QVERIFY(busyWhileLoading);
    QVERIFY(crawlDisabledWhileLoading);
    QCOMPARE(h.window.cursor().shape(), Qt::ArrowCursor);
}

void CrawlTest::forceStop_whileStartPageLoads_recordsItsLinksAndLoadsNoMore()
{
    WindowHarness h;
    h.documents.setPage(Start, {at("/a"), at("/b")});
    h.documents.holdPage(Start);
    h.documents.onWait = [&](const QString &) { soon([&] { h.trigger("mnuForceStop"); }); };

    h.crawl(Start);

    QCOMPARE(h.documents.consumed, QStringList({Start}));
    QCOMPARE(h.entries("lstInternal"), QStringList({at("/a"), at("/b")}));
    QCOMPARE(h.list("lstInternal")->currentIndex(), 0);
    QVERIFY(h.button("cmdCheckBroken")->isEnabled());
    QVERIFY(h.window.stopRequested());
    QCOMPARE(h.documents.liveDocuments(), 0);
}

void CrawlTest::forceStop_betweenPages_skipsThePageAndEndsAtTheNext()
{
    WindowHarness h;
    h.documents.setPage(Start, {at("/a"), at("/b"), at("/c")});
    h.documents.setPage(at("/b"), {"http://other.test/from-b"});
    // Force Stop arrives in the yield right after entry 1 became current.
    bool startPageDone = false;
    h.documents.onWait = [&](const QString &address) { startPageDone = address != Start; };
    connect(h.list("lstInternal"), &ListBox::currentIndexChanged, &h.window,
            [&](qsizetype current) {
                if (startPageDone && current == 1)
                    soon([&] { h.click("cmdForceStop"); });
            });

    h.crawl(Start);

    QVERIFY(!h.documents.consumed.contains(at("/b")));
    QVERIFY(!h.documents.consumed.contains(at("/c")));
    QVERIFY(h.entries("lstExternal").isEmpty());
    QCOMPARE(h.list("lstInternal")->currentIndex(), 2);
}

void CrawlTest::forceStop_withNothingRunning_enablesCheck()
{
    WindowHarness h;
    h.trigger("mnuForceStop");
    h.trigger("mnuForceStop");
    QVERIFY(h.window.stopRequested());
    QVERIFY(h.button("cmdCheckBroken")->isEnabled());

    h.documents.setPage(Start, {at("/a")});
    h.crawl(Start);
    QCOMPARE(h.documents.consumed, QStringList({Start, at("/a")}));
}

void CrawlTest::crawl_nestedFromMenuRunsToItsEndInside()
{
    WindowHarness h;
    h.documents.setPage(Start, {at("/a"), at("/b")});
    bool nested = false;
    h.documents.onWait = [&](const QString &address) {
        if (address == at("/a") && !nested) {
            nested = true;
            soon([&] { h.trigger("mnuCrawl"); });
        }
    };

    h.crawl(Start);

    QCOMPARE(h.documents.consumed,
             QStringList({Start, at("/a"), Start, at("/a"), at("/b"), at("/b")}));
    QCOMPARE(h.entries("lstInternal"), QStringList({at("/a"), at("/b")}));
    QCOMPARE(h.caption("lblTotal"), "Total links: 2");
}

void CrawlTest::new_duringCrawl_endsItAndRecordsIntoEmptiedLists()
{
    WindowHarness h;
    h.documents.setPage(Start, {at("/a"), at("/b"), "http://other.test/"});
    h.documents.setPage(at("/a"), {at("/d")});
    h.documents.holdPage(at("/a"));
    h.documents.onWait = [&](const QString &address) {
        if (address == at("/a"))
            soon([&] { h.trigger("mnuNew"); });
    };

    h.crawl(Start);

    QCOMPARE(h.documents.consumed, QStringList({Start, at("/a")}));
    // New also reset the start address, so the page's link is now external.
    QVERIFY(h.entries("lstInternal").isEmpty());
    QCOMPARE(h.entries("lstExternal"), QStringList({at("/d")}));
    // The counters started again at New.
    QCOMPARE(h.caption("lblInternal"), "Internal links: 0");
    QCOMPARE(h.caption("lblExternal"), "External links: 1");
    QCOMPARE(h.caption("lblTotal"), "Total links: 1");
    QVERIFY(h.window.stopRequested());
}

void CrawlTest::closeBox_duringCrawl_endsIt()
{
    WindowHarness h;
    h.window.show();
    h.documents.setPage(Start, {at("/a"), at("/b")});
    h.documents.holdPage(at("/a"));
    h.documents.onWait = [&](const QString &address) {
        if (address == at("/a"))
            soon([&] { h.window.close(); });
    };

    h.crawl(Start);

    QCOMPARE(h.documents.consumed, QStringList({Start, at("/a")}));
    QVERIFY(!h.window.isVisible());
    QVERIFY(h.window.stopRequested());
    QCOMPARE(h.documents.liveDocuments(), 0);
}

// A page that never completes holds the crawl in its wait; the wait must sleep, not spin.
void CrawlTest::wait_sleepsUntilSomethingHappens()
{
    WindowHarness h;
    h.documents.holdPage(Start);
    int turns = 0;
    int turnsWhileIdle = -1;
    QMetaObject::Connection counting;
    h.documents.onWait = [&](const QString &) {
        // Count how often the event loop turns while nothing at all happens.
        QTimer::singleShot(300, &h.window, [&] {
            counting = connect(QAbstractEventDispatcher::instance(),
                               &QAbstractEventDispatcher::aboutToBlock, [&] { ++turns; });
            QTimer::singleShot(500, &h.window, [&] {
                disconnect(counting);
                turnsWhileIdle = turns;
                h.trigger("mnuForceStop");
            });
        });
    };

    h.crawl(Start);

    QVERIFY(turnsWhileIdle >= 0);
    // Asleep, the loop blocks once and wakes only for the timer that ends the test.
    QVERIFY2(turnsWhileIdle < 20, qPrintable(QString::number(turnsWhileIdle)));
}

// Redraws are paced to the screen's frames while a command records links: the window must still
// show the counts while the crawl waits for a page, and the final ones once it has ended.
void CrawlTest::window_drawsWhatTheCrawlRecordedWhileItRuns()
{
    WindowHarness h;
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));
    PaintedCaptions painted(h.get<QLabel>("lblTotal"));
    QStringList startLinks;
    for (int i = 0; i < 40; ++i)
        startLinks.append(at("/p" + QString::number(i)));
    h.documents.setPage(Start, startLinks);
    h.documents.setPage(at("/p0"), {at("/deeper")});
    h.documents.holdPage(at("/p0"));
    bool shownWhileWaiting = false;
    QTimer poll;
    QElapsedTimer waited;
    h.documents.onWait = [&](const QString &address) {
        if (address != at("/p0"))
            return;
        waited.start();
        connect(&poll, &QTimer::timeout, [&] {
            shownWhileWaiting = painted.texts.contains("Total links: 40");
            if (shownWhileWaiting || waited.elapsed() > hangBoundMs(10s)) {
                poll.stop();
                h.documents.release(at("/p0"));
            }
        });
        poll.start(10);
    };

    h.crawl(Start);

    QVERIFY(shownWhileWaiting);
    QCOMPARE(h.caption("lblTotal"), "Total links: 41");
    QTRY_VERIFY_WITH_TIMEOUT(!painted.texts.isEmpty() && painted.texts.last() == "Total links: 41",
                             hangBoundMs(5s));
}

// The crawl reads the address box at every link: an edit made while it runs classifies the links
// recorded after it.
void CrawlTest::addressEdit_duringCrawl_appliesFromTheNextLink()
{
    WindowHarness h;
    h.documents.setPage(Start, {at("/a"), "http://other.test/x"});
    h.documents.setPage(at("/a"), {"http://other.test/y", at("/b")});
    h.documents.onWait = [&](const QString &address) {
        if (address == at("/a"))
            h.setAddress(QStringLiteral("http://other.test"));
    };

    h.crawl(Start);

    QCOMPARE(h.entries("lstInternal"), QStringList({at("/a"), "http://other.test/y"}));
    QCOMPARE(h.entries("lstExternal"), QStringList({"http://other.test/x", at("/b")}));
}

void CrawlTest::origins_keepFirstHundredPagesAndCountAll()
{
    LinkOrigins origins;
    for (int i = 0; i < 250; ++i) {
        const QString page = QStringLiteral("http://site.test/p%1").arg(i);
        origins.note("http://site.test/target", page);
        origins.note("http://site.test/other", page);
        origins.note("http://site.test/target", page); // twice on one page
    }
    const LinkOrigins::Origins *found = origins.find("http://site.test/target");
    QVERIFY(found);
    QCOMPARE(found->pages.size(), LinkOrigins::KeptPages);
    QCOMPARE(found->pages.first(), "http://site.test/p0");
    QCOMPARE(found->pages.last(), "http://site.test/p99");
    QCOMPARE(found->count, 250);
    QVERIFY(!origins.find("http://site.test/unseen"));

    origins.clear();
    QVERIFY(!origins.find("http://site.test/target"));
}

// A crawl run again without New meets the same pages again.
void CrawlTest::origins_countEachPageOnceAcrossCrawls()
{
    LinkOrigins origins;
    for (int crawl = 0; crawl < 2; ++crawl) {
        for (int i = 0; i < 150; ++i)
            origins.note("http://site.test/target", QStringLiteral("http://site.test/p%1").arg(i));
    }
    QCOMPARE(origins.find("http://site.test/target")->count, 150);
    QCOMPARE(origins.find("http://site.test/target")->pages.size(), 100);
}

QTEST_MAIN(CrawlTest)
#include "tst_crawl.moc"
