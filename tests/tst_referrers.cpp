#include "support/windowharness.h"

namespace {

void crawlSite(WindowHarness &h, const QStringList &paths)
{
    QStringList links;
    for (const QString &path : paths)
        links.append(at(path));
    h.documents.setPage(Start, links);
    h.crawl(Start);
    h.documents.requested.clear();
    h.documents.consumed.clear();
}

} // namespace

class ReferrersTest final : public QObject
{
    Q_OBJECT

private slots:
    void find_listsEachLinkingPageOncePerLink();
    void find_comparesAddressesExactly();
    void find_appendsBelowEarlierResults();
    void find_emptyListLoadsNothing();
    void forceStop_whilePageLoads_comparesItAndEnds();
    void new_duringSearch_endsIt();
};

void ReferrersTest::find_listsEachLinkingPageOncePerLink()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b", "/c"});
    const QString dead = "http://other.test/dead";
    h.documents.setPage(at("/a"), {dead, at("/b"), dead});
    h.documents.setPage(at("/b"), {at("/c")});
    h.documents.setPage(at("/c"), {dead});

    h.findLinks(dead);

    QCOMPARE(h.documents.consumed, QStringList({at("/a"), at("/b"), at("/c")}));
    QCOMPARE(h.lines("txtLinksToPage"), QStringList({at("/a"), at("/a"), at("/c")}));
    QCOMPARE(h.list("lstInternal")->currentIndex(), 2);
    QVERIFY(!h.window.stopRequested());
}

void ReferrersTest::find_comparesAddressesExactly()
{
    WindowHarness h;
    crawlSite(h, {"/a"});
    h.documents.setPage(at("/a"), {"http://other.test/Dead", "http://other.test/dead/",
                                   "http://other.test/dead "});
    h.findLinks("http://other.test/dead");
    QCOMPARE(h.text("txtLinksToPage"), QString());
    h.findLinks(QString());
    QCOMPARE(h.text("txtLinksToPage"), QString());
}

void ReferrersTest::find_appendsBelowEarlierResults()
{
    WindowHarness h;
    crawlSite(h, {"/a"});
    h.documents.setPage(at("/a"), {"http://other.test/x"});
    h.get<MultiLineTextBox>("txtLinksToPage")->setPlainText("typed by the user\n");
    h.findLinks("http://other.test/x");
    h.findLinks("http://other.test/x");
    QCOMPARE(h.lines("txtLinksToPage"), QStringList({"typed by the user", at("/a"), at("/a")}));
}

void ReferrersTest::find_emptyListLoadsNothing()
{
    WindowHarness h;
    h.trigger("mnuForceStop");
    h.findLinks("http://other.test/x");
    QVERIFY(h.documents.requested.isEmpty());
    QCOMPARE(h.text("txtLinksToPage"), QString());
    QVERIFY(!h.window.stopRequested());
}

void ReferrersTest::forceStop_whilePageLoads_comparesItAndEnds()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b", "/c"});
    h.documents.setPage(at("/a"), {"http://other.test/x"});
    h.documents.holdPage(at("/a"));
    h.documents.onWait = [&](const QString &) { soon([&] { h.trigger("mnuForceStop"); }); };

    h.findLinks("http://other.test/x");

    QCOMPARE(h.documents.consumed, QStringList({at("/a")}));
    QCOMPARE(h.lines("txtLinksToPage"), QStringList({at("/a")}));
    QCOMPARE(h.list("lstInternal")->currentIndex(), 1);
    QCOMPARE(h.documents.liveDocuments(), 0);

    // The next search clears the flag and runs in full.
    h.documents.onWait = nullptr;
    h.documents.release(at("/a"));
    h.documents.requested.clear();
    h.documents.consumed.clear();
    h.findLinks("http://other.test/x");
    QCOMPARE(h.documents.consumed, QStringList({at("/a"), at("/b"), at("/c")}));
}

void ReferrersTest::new_duringSearch_endsIt()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b"});
    h.documents.setPage(at("/a"), {"http://other.test/x"});
    h.documents.holdPage(at("/a"));
    h.documents.onWait = [&](const QString &) { soon([&] { h.trigger("mnuNew"); }); };

    h.findLinks("http://other.test/x");

    QCOMPARE(h.documents.consumed, QStringList({at("/a")}));
    // The scanned page is recorded under its own address, though New emptied the list.
    QCOMPARE(h.lines("txtLinksToPage"), QStringList({at("/a")}));
    QVERIFY(h.window.stopRequested());
}

QTEST_MAIN(ReferrersTest)
#include "tst_referrers.moc"
