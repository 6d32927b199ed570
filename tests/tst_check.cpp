#include "support/windowharness.h"

#include <QHelpEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QToolTip>

using namespace std::chrono_literals;

namespace {

// Crawls a start page that links to the given internal paths and external addresses.
void crawlSite(WindowHarness &h, const QStringList &internalPaths, const QStringList &external)
{
    QStringList links;
    for (const QString &path : internalPaths)
        links.append(at(path));
    links.append(external);
    h.documents.setPage(Start, links);
    h.crawl(Start);
    h.documents.onWait = nullptr;
}

} // namespace

class CheckTest final : public QObject
{
    Q_OBJECT

private slots:
    void check_listsPagesShowingAnErrorText();
    void check_pageShowingTwoErrorTextsCountsOnce();
    void check_errorTextInsideLongerNumberCounts();
    void check_errorTextFoundAtAnyPlaceOnly_data();
    void check_errorTextFoundAtAnyPlaceOnly();
    void check_capitalsInErrorTextMatchBothPhases();
    void check_capitalsBeyondAsciiMatch();
    void pageText_scrollsOverTheWholePageOnceFocused();
    void check_failedFetchCountsBrokenAndEmptiesPageText();
    void check_errorStatusCountsOnceWhateverTheText();
    void check_eachBrokenPageKeepsItsReason();
    void brokenList_tooltipTellsWhyTheLineUnderTheMouseIsBroken();
    void check_runTwiceStartsFromZero();
    void check_errorTextFarIntoALongPageCounts();
    void check_emptyErrorTextMatchesEveryNonEmptyPage();
    void check_emptyErrorListCountsNothing();
    void check_emptyListsFetchNothing();
    void check_leavesLastErrorTextCurrent();
    void forceStop_duringInternalPhase_abortsFetchAndEndsRun();
    void forceStop_leavesTheLastPageTextShown();
    void new_duringCheck_endsItCountingNothing();
    void check_nestedRunsToItsEndInside();
    void exit_duringFetch_abortsItAndCloses();
    void closeBox_duringExternalPhase_endsRun();
};

void CheckTest::check_listsPagesShowingAnErrorText()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b", "/c"}, {"http://other.test/x", "http://other.test/y"});
    h.transfer.setPage(at("/a"), "<h1>Page Not Found</h1>");
    h.transfer.setPage(at("/b"), "<p>All fine</p>");
    h.transfer.setPage(at("/c"), "Error 404");
    h.transfer.setPage("http://other.test/x", "nothing wrong");
    h.transfer.setPage("http://other.test/y", "PAGE NOT FOUND");

    h.click("cmdCheckBroken");

    QCOMPARE(h.transfer.consumed, QStringList({at("/a"), at("/b"), at("/c"), "http://other.test/x",
                                               "http://other.test/y"}));
    QCOMPARE(h.lines("txtBroken"), QStringList({at("/a"), at("/c"), "http://other.test/y"}));
    QCOMPARE(h.caption("lblBroken"), "Broken links: 3");
    QCOMPARE(h.text("txtHTML"), "page not found");
    QCOMPARE(h.list("lstInternal")->currentIndex(), 2);
    QCOMPARE(h.list("lstExternal")->currentIndex(), 1);
    QVERIFY(!h.window.stopRequested());
}

void CheckTest::check_pageShowingTwoErrorTextsCountsOnce()
{
    WindowHarness h;
    crawlSite(h, {"/a"}, {});
    h.list("lstErrors")->addItem("404");
    h.transfer.setPage(at("/a"), "404 - Page not found");
    h.click("cmdCheckBroken");
    QCOMPARE(h.lines("txtBroken"), QStringList({at("/a")}));
    QCOMPARE(h.caption("lblBroken"), "Broken links: 1");
}

void CheckTest::check_errorTextInsideLongerNumberCounts()
{
    WindowHarness h;
    crawlSite(h, {"/a"}, {});
    h.transfer.setPage(at("/a"), "Order number 1234567");
    h.click("cmdCheckBroken");
    QCOMPARE(h.caption("lblBroken"), "Broken links: 0");
    h.transfer.setPage(at("/a"), "Order number 1404456");
    h.click("cmdCheckBroken");
    QCOMPARE(h.caption("lblBroken"), "Broken links: 1");
}

void CheckTest::check_errorTextFoundAtAnyPlaceOnly_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("broken");
    QTest::newRow("the whole page") << "404" << true;
    QTest::newRow("at the start") << "404 and more" << true;
    QTest::newRow("at the end") << "all is well. page not found" << true;
    QTest::newRow("after a near miss") << "4 40 4044" << true;
    QTest::newRow("cut short at the end") << "all is well. page not foun" << false;
    QTest::newRow("cut short at the start") << "04 age not found" << false;
    QTest::newRow("shorter than the text") << "40" << false;
    QTest::newRow("spread out") << "page  not found 4 0 4" << false;
    QTest::newRow("its ends without its middle") << "4x4 pxge not founx, page not fund" << false;
    QTest::newRow("across a block of places") << QString(62, u'x') + "404" << true;
    QTest::newRow("far on") << QString(300, u'4') + "page not found" + QString(9, u'd') << true;
}

// The error texts are looked for at every place in the page, and nowhere they do not stand whole.
void CheckTest::check_errorTextFoundAtAnyPlaceOnly()
{
    QFETCH(QString, page);
    QFETCH(bool, broken);
    WindowHarness h;
    crawlSite(h, {"/a"}, {});
    h.transfer.setPage(at("/a"), page);
    h.click("cmdCheckBroken");
    QCOMPARE(h.caption("lblBroken"), broken ? "Broken links: 1" : "Broken links: 0");
}

void CheckTest::check_capitalsInErrorTextMatchBothPhases()
{
    WindowHarness h;
    crawlSite(h, {"/a"}, {"http://other.test/x"});
    ListBox *errors = h.list("lstErrors");
    errors->clear();
    errors->addItem("Server Error");
    h.transfer.setPage(at("/a"), "SERVER ERROR");
    h.transfer.setPage("http://other.test/x", "server error");
    h.click("cmdCheckBroken");
    QCOMPARE(h.lines("txtBroken"), QStringList({at("/a"), "http://other.test/x"}));
}

// Page text is lowered by a quick path while it is ASCII; a letter beyond ASCII anywhere, before
// or after the first capital, must still be lowered as Qt lowers it.
void CheckTest::check_capitalsBeyondAsciiMatch()
{
    WindowHarness h;
    crawlSite(h, {"/es", "/de", "/ok"}, {});
    ListBox *errors = h.list("lstErrors");
    errors->clear();
    errors->addItem(QStringLiteral("PÁGINA NO ENCONTRADA"));
    errors->addItem(QStringLiteral("seite wurde nicht gefunden"));
    h.transfer.setPage(at("/es"), QStringLiteral("Error: PÁGINA NO ENCONTRADA"));
    h.transfer.setPage(at("/de"), QStringLiteral("Ärger: SEITE WURDE NICHT GEFUNDEN"));
    h.transfer.setPage(at("/ok"), QStringLiteral("ÜBER UNS"));

    h.click("cmdCheckBroken");

    QCOMPARE(h.lines("txtBroken"), QStringList({at("/es"), at("/de")}));
    QCOMPARE(h.text("txtHTML"), QStringLiteral("über uns"));
}

// The page text box lies under the list of internal links, where nobody sees it. Once it takes the
// focus it must scroll over the whole of the last page from its start, as any box holding that
// text does.
void CheckTest::pageText_scrollsOverTheWholePageOnceFocused()
{
    WindowHarness h;
    h.window.show();
    h.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    QString page;
    for (int i = 0; i < 200; ++i)
        page += QStringLiteral("line %1 of a long page\n").arg(i);
    crawlSite(h, {"/long"}, {});
    h.transfer.setPage(at("/long"), page);
    h.click("cmdCheckBroken");

    auto *box = h.get<MultiLineTextBox>("txtHTML");
    QCOMPARE(box->toPlainText(), page);
    MultiLineTextBox seen;
    seen.setFont(box->font());
    seen.resize(box->size());
    seen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&seen));
    seen.setPlainText(page);
    h.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    box->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(box->hasFocus(), hangBoundMs(5s));
    QVERIFY(seen.verticalScrollBar()->maximum() > 0);
    QCOMPARE(box->verticalScrollBar()->maximum(), seen.verticalScrollBar()->maximum());
    // Its cursor and scroll position are where a box that was seen all along has them.
    QCOMPARE(box->textCursor().position(), seen.textCursor().position());
    QCOMPARE(box->verticalScrollBar()->value(), seen.verticalScrollBar()->value());
}

void CheckTest::check_failedFetchCountsBrokenAndEmptiesPageText()
{
    WindowHarness h;
    crawlSite(h, {"/broken", "/unreachable", "/fine"}, {"http://other.test/gone"});
    h.transfer.setPage(at("/broken"), "404");
    // /unreachable and http://other.test/gone fail; the 404 text before them must not be reused.
    h.transfer.setPage(at("/fine"), "Welcome");

    h.click("cmdCheckBroken");

    QCOMPARE(h.lines("txtBroken"),
             QStringList({at("/broken"), at("/unreachable"), "http://other.test/gone"}));
    QCOMPARE(h.caption("lblBroken"), "Broken links: 3");
    QCOMPARE(h.text("txtHTML"), QString());
}

// An answer of 400 and above is an error whatever its body says: one count and one line, even when
// the body also shows an error text.
void CheckTest::check_errorStatusCountsOnceWhateverTheText()
{
    WindowHarness h;
    crawlSite(h, {"/gone", "/soft", "/custom"}, {});
    h.transfer.setAnswer(at("/gone"), 404, "Not Found", "Error 404: page not found");
    h.transfer.setAnswer(at("/soft"), 200, "OK", "Sorry, page not found");
    h.transfer.setAnswer(at("/custom"), 500, QString(), "Sorry, nothing here");

    h.click("cmdCheckBroken");

    QCOMPARE(h.lines("txtBroken"), QStringList({at("/gone"), at("/soft"), at("/custom")}));
    QCOMPARE(h.caption("lblBroken"), "Broken links: 3");
}

void CheckTest::check_eachBrokenPageKeepsItsReason()
{
    WindowHarness h;
    crawlSite(h, {"/gone", "/soft", "/fine", "/custom"}, {"http://dead.test/"});
    h.transfer.setAnswer(at("/gone"), 404, "Not Found", "404");
    h.transfer.setPage(at("/soft"), "Sorry, Page Not Found");
    h.transfer.setAnswer(at("/fine"), 301, "Moved", "fine");
    h.transfer.setAnswer(at("/custom"), 503, QString(), "busy");
    h.transfer.setFailure("http://dead.test/", "host not found");

    h.click("cmdCheckBroken");

    const CheckResults &results = h.window.results();
    QCOMPARE(results.find(at("/gone"))->reason, "HTTP 404 Not Found");
    QCOMPARE(results.find(at("/gone"))->httpStatus, 404);
    QCOMPARE(results.find(at("/soft"))->reason,
             "the text shows \"page not found\" in \"Sorry, Page Not Found\"");
    QCOMPARE(results.find(at("/custom"))->reason, "HTTP 503");
    QCOMPARE(results.find("http://dead.test/")->reason, "host not found");
    QVERIFY(!results.find(at("/fine"))->broken);
    QCOMPARE(results.find(at("/fine"))->httpStatus, 301);
    QCOMPARE(results.size(), 5);

    h.trigger("mnuNew");
    QCOMPARE(h.window.results().size(), 0);
}

void CheckTest::brokenList_tooltipTellsWhyTheLineUnderTheMouseIsBroken()
{
    WindowHarness h;
    crawlSite(h, {"/gone", "/soft"}, {});
    h.transfer.setAnswer(at("/gone"), 410, "Gone", "");
    h.transfer.setPage(at("/soft"), "404");
    h.trigger("mnuCheckBroken");
    h.click("cmdCheckBroken");
    auto *box = h.get<MultiLineTextBox>("txtBroken");
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));

    const auto lineCentre = [&](int line) {
        return box->cursorRect(QTextCursor(box->document()->findBlockByNumber(line))).center();
    };
    QHelpEvent event(QEvent::ToolTip, lineCentre(0), box->viewport()->mapToGlobal(lineCentre(0)));
    QCoreApplication::sendEvent(box->viewport(), &event);
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), "HTTP 410 Gone\nFound on:\n" + Start);
    QCOMPARE(box->lineToolTipAt(lineCentre(1)),
             "the text shows \"404\" in \"404\"\nFound on:\n" + Start);
    QCOMPARE(box->lineToolTipAt(QPoint(5, box->viewport()->height() - 2)), QString());
}

// The page text box shows only the start of a long page; the error texts are looked for in all of
// it.
void CheckTest::check_errorTextFarIntoALongPageCounts()
{
    WindowHarness h;
    crawlSite(h, {"/long", "/fine"}, {});
    h.transfer.setPage(at("/long"), QString(1'000'000, u'x') + "Page Not Found");
    h.transfer.setPage(at("/fine"), QString(1'000'000, u'x'));

    h.click("cmdCheckBroken");

    QCOMPARE(h.lines("txtBroken"), QStringList({at("/long")}));
}

void CheckTest::check_runTwiceStartsFromZero()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b"}, {});
    h.transfer.setPage(at("/a"), "404");
    h.transfer.setPage(at("/b"), "ok");
    h.click("cmdCheckBroken");
    h.click("cmdCheckBroken");
    QCOMPARE(h.lines("txtBroken"), QStringList({at("/a")}));
    QCOMPARE(h.caption("lblBroken"), "Broken links: 1");
}

void CheckTest::check_emptyErrorTextMatchesEveryNonEmptyPage()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/empty"}, {});
    ListBox *errors = h.list("lstErrors");
    errors->clear();
    errors->addItem(QString());
    h.transfer.setPage(at("/a"), "anything");
    h.transfer.setPage(at("/empty"), QString());
    h.click("cmdCheckBroken");
    QCOMPARE(h.lines("txtBroken"), QStringList({at("/a")}));
}

void CheckTest::check_emptyErrorListCountsNothing()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b"}, {});
    h.transfer.setPage(at("/a"), "404");
    h.transfer.setPage(at("/b"), "page not found");
    h.list("lstErrors")->clear();
    h.click("cmdCheckBroken");
    QCOMPARE(h.transfer.consumed.size(), 2);
    QCOMPARE(h.caption("lblBroken"), "Broken links: 0");
    QCOMPARE(h.text("txtHTML"), "page not found");
}

void CheckTest::check_emptyListsFetchNothing()
{
    WindowHarness h;
    h.trigger("mnuForceStop");
    h.click("cmdCheckBroken");
    QVERIFY(h.transfer.requested.isEmpty());
    QVERIFY(!h.window.stopRequested());
}

void CheckTest::check_leavesLastErrorTextCurrent()
{
    WindowHarness h;
    crawlSite(h, {"/a"}, {});
    h.transfer.setPage(at("/a"), "fine");
    h.click("cmdCheckBroken");
    QCOMPARE(h.list("lstErrors")->currentIndex(), 1);
    // Remove right after the check deletes the entry it left current.
    h.click("cmdSettingsRemove");
    QCOMPARE(h.entries("lstErrors"), QStringList({"404"}));
}

void CheckTest::forceStop_duringInternalPhase_abortsFetchAndEndsRun()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b", "/c"}, {"http://other.test/x", "http://other.test/y"});
    h.transfer.setPage(at("/a"), "404");
    h.transfer.holdPage(at("/a"));
    h.transfer.onWait = [&](const QString &) { soon([&] { h.trigger("mnuForceStop"); }); };

    h.click("cmdCheckBroken");

    // The fetch of /a was aborted: nothing was tested, and nothing is left in flight.
    QVERIFY(h.transfer.consumed.isEmpty());
    QVERIFY(h.transfer.aborted >= 1);
    QCOMPARE(h.transfer.liveFetches, 0);
    // An aborted page is not known to be broken.
    QCOMPARE(h.caption("lblBroken"), "Broken links: 0");
    QCOMPARE(h.list("lstInternal")->currentIndex(), 1);
    QCOMPARE(h.list("lstExternal")->currentIndex(), 0);
}

// The page text box is behind by up to a frame while the check runs, and holds the text of the
// page fetched last once it stops.
void CheckTest::forceStop_leavesTheLastPageTextShown()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b"}, {"http://other.test/x"});
    h.transfer.setPage(at("/a"), "First page");
    h.transfer.setPage(at("/b"), "Second page");
    h.transfer.holdPage("http://other.test/x");
    h.transfer.onWait = [&](const QString &address) {
        if (address == "http://other.test/x")
            soon([&] { h.trigger("mnuForceStop"); });
    };

    h.click("cmdCheckBroken");

    QCOMPARE(h.transfer.consumed, QStringList({at("/a"), at("/b")}));
    QCOMPARE(h.text("txtHTML"), "second page");
}

void CheckTest::new_duringCheck_endsItCountingNothing()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b"}, {"http://other.test/x"});
    h.transfer.setPage(at("/a"), "404");
    h.transfer.onWait = [&](const QString &) { soon([&] { h.trigger("mnuNew"); }); };

    h.click("cmdCheckBroken");

    QCOMPARE(h.transfer.consumed, QStringList({at("/a")}));
    QCOMPARE(h.caption("lblBroken"), "Broken links: 0");
    QCOMPARE(h.text("txtBroken"), QString());
    QVERIFY(h.entries("lstInternal").isEmpty());
}

void CheckTest::check_nestedRunsToItsEndInside()
{
    WindowHarness h;
    crawlSite(h, {"/a", "/b"}, {"http://other.test/x"});
    h.transfer.setPage(at("/a"), "fine");
    h.transfer.setPage(at("/b"), "404");
    h.transfer.setPage("http://other.test/x", "fine");
    bool nested = false;
    h.transfer.onWait = [&](const QString &) {
        if (!std::exchange(nested, true))
            soon([&] { h.click("cmdCheckBroken"); });
    };

    h.click("cmdCheckBroken");

    QCOMPARE(h.transfer.consumed, QStringList({at("/a"), at("/a"), at("/b"), "http://other.test/x",
                                               at("/b"), "http://other.test/x"}));
    // The inner run found /b; the outer run, resuming, found it again.
    QCOMPARE(h.lines("txtBroken"), QStringList({at("/b"), at("/b")}));
}

void CheckTest::exit_duringFetch_abortsItAndCloses()
{
    WindowHarness h;
    h.window.show();
    crawlSite(h, {"/a", "/b"}, {});
    h.transfer.holdPage(at("/a"));
    h.transfer.onWait = [&](const QString &) { soon([&] { h.trigger("mnuExit"); }); };

    h.click("cmdCheckBroken");

    QVERIFY(h.transfer.consumed.isEmpty());
    QVERIFY(h.transfer.aborted >= 1);
    QCOMPARE(h.transfer.liveFetches, 0);
    QVERIFY(!h.window.isVisible());
}

void CheckTest::closeBox_duringExternalPhase_endsRun()
{
    WindowHarness h;
    h.window.show();
    crawlSite(h, {"/a"}, {"http://other.test/x", "http://other.test/y"});
    h.transfer.setPage(at("/a"), "ok");
    h.transfer.holdPage("http://other.test/x");
    h.transfer.onWait = [&](const QString &address) {
        if (address == "http://other.test/x")
            soon([&] { h.window.close(); });
    };

    h.click("cmdCheckBroken");

    QCOMPARE(h.transfer.consumed, QStringList({at("/a")}));
    QVERIFY(h.transfer.aborted >= 1);
    QCOMPARE(h.transfer.liveFetches, 0);
    QVERIFY(!h.window.isVisible());
}

QTEST_MAIN(CheckTest)
#include "tst_check.moc"
