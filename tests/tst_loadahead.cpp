#include "support/windowharness.h"

namespace {

QString page(int i)
{
    return Start + QStringLiteral("/p") + QString::number(i);
}
QString external(int i)
{
    return QStringLiteral("http://ext%1.test/").arg(i);
}
constexpr int Pages = 8;

void scriptSite(WindowHarness &h)
{
    QStringList startLinks;
    for (int i = 0; i < Pages; ++i)
        startLinks.append(page(i));
    for (int i = 0; i < 4; ++i)
        startLinks.append(external(i));
    h.documents.setPage(Start, startLinks);
    for (int i = 0; i < Pages; ++i) {
        h.documents.setPage(page(i), {page((i + 1) % Pages), Start + "/deep/" + QString::number(i),
                                      external(i % 4), external(0)});
        if (i != 5) // /p5 cannot be fetched
            h.transfer.setPage(page(i), i == 2 ? "Error 404" : "Page " + QString::number(i));
    }
    for (int i = 0; i < 4; ++i)
        h.transfer.setPage(external(i), i == 1 ? "Page not found" : "fine");
}

// Everything the window shows that a command changes.
QStringList snapshot(const WindowHarness &h)
{
    QStringList shown;
    for (const char *list : {"lstInternal", "lstExternal", "lstErrors"}) {
        shown << h.entries(list).join(QLatin1Char('|'))
              << QString::number(h.list(list)->currentIndex());
    }
    for (const char *label : {"lblInternal", "lblExternal", "lblTotal", "lblBroken"})
        shown << h.caption(label);
    for (const char *box : {"txtAddress", "txtHTML", "txtBroken", "txtLinksToPage"})
        shown << h.text(box);
    for (const char *button : {"cmdCrawl", "cmdForceStop", "cmdCheckBroken"})
        shown << QString::number(h.button(button)->isEnabled());
    shown << (h.window.stopRequested() ? QStringLiteral("stop requested")
                                       : QStringLiteral("no stop"));
    return shown;
}

enum class Interruption {
    None,
    ForceStopInCrawl,
    NewInCrawl,
    ForceStopInCheck,
    NewInCheck,
    NestedCheck,
    NestedCrawlInCheck,
    SelectionMovedInCheck,
};

// Runs `action` in the yield right after the crawl or the check makes internal entry 3 current.
// The moment is one the window shows, so it is the same whether pages load ahead or not.
void interrupt(WindowHarness &h, Interruption interruption)
{
    if (interruption == Interruption::None)
        return;
    const bool inCheck = interruption >= Interruption::ForceStopInCheck;
    auto armed = std::make_shared<bool>(false);
    auto fired = std::make_shared<bool>(false);
    // Armed once the command has begun its walk, past the start page's duplicate scans.
    if (inCheck)
        h.transfer.onWait = [armed](const QString &) { *armed = true; };
    else
        h.documents.onWait = [armed](const QString &address) {
            *armed = *armed || address == page(0);
        };

    QObject::connect(h.list("lstInternal"), &ListBox::currentIndexChanged, &h.window,
                     [&h, interruption, armed, fired](qsizetype index) {
                         if (index != 3 || !*armed || std::exchange(*fired, true))
                             return;
                         soon([&h, interruption] {
                             switch (interruption) {
                             case Interruption::ForceStopInCrawl:
                             case Interruption::ForceStopInCheck:
                                 h.trigger("mnuForceStop");
                                 break;
                             case Interruption::NewInCrawl:
                             case Interruption::NewInCheck:
                                 h.trigger("mnuNew");
                                 break;
                             case Interruption::NestedCheck:
                                 h.click("cmdCheckBroken");
                                 break;
                             case Interruption::NestedCrawlInCheck:
                                 h.trigger("mnuCrawl");
                                 break;
                             case Interruption::SelectionMovedInCheck:
                                 h.list("lstInternal")->setCurrentIndex(5);
                                 break;
                             case Interruption::None:
                                 break;
                             }
                         });
                     });
}

// Crawl, check and search, with one interruption somewhere; returns what the window shows after
// each command.
QStringList runSession(bool loadAhead, Interruption interruption)
{
    WindowHarness h;
    h.window.setLoadingAhead(loadAhead);
    scriptSite(h);
    interrupt(h, interruption);
    QStringList shown;
    h.crawl(Start);
    shown << snapshot(h);
    h.click("cmdCheckBroken");
    shown << snapshot(h);
    h.get<QLineEdit>("txtBrokenLink")->setText(external(0));
    h.click("cmdBrokenLinkCrawl");
    shown << snapshot(h);
    if (h.documents.liveDocuments() != 0 || h.transfer.liveFetches != 0)
        shown << QStringLiteral("loads left over");
    return shown;
}

} // namespace

class LoadAheadTest final : public QObject
{
    Q_OBJECT

private slots:
    void loadingAhead_showsWhatOneByOneShows_data();
    void loadingAhead_showsWhatOneByOneShows();
    void loadingAhead_boundsConnectionsPerHost();
    void loadingAhead_takesNoPageTheUserMovedAwayFrom();
};

void LoadAheadTest::loadingAhead_showsWhatOneByOneShows_data()
{
    QTest::addColumn<Interruption>("interruption");
    QTest::newRow("uninterrupted") << Interruption::None;
    QTest::newRow("Force Stop in the crawl") << Interruption::ForceStopInCrawl;
    QTest::newRow("New in the crawl") << Interruption::NewInCrawl;
    QTest::newRow("Force Stop in the check") << Interruption::ForceStopInCheck;
    QTest::newRow("New in the check") << Interruption::NewInCheck;
    QTest::newRow("check inside the check") << Interruption::NestedCheck;
    QTest::newRow("crawl inside the check") << Interruption::NestedCrawlInCheck;
    QTest::newRow("selection moved in the check") << Interruption::SelectionMovedInCheck;
}

void LoadAheadTest::loadingAhead_showsWhatOneByOneShows()
{
    QFETCH(Interruption, interruption);
    const QStringList oneByOne = runSession(false, interruption);
    const QStringList ahead = runSession(true, interruption);
    QCOMPARE(ahead, oneByOne);
}

void LoadAheadTest::loadingAhead_boundsConnectionsPerHost()
{
    WindowHarness h;
    scriptSite(h);
    h.crawl(Start);
    int inFlightAtFirstWait = -1;
    h.transfer.onWait = [&](const QString &address) {
        if (address == page(0))
            inFlightAtFirstWait = h.transfer.liveFetches;
    };
    h.click("cmdCheckBroken");
    // All internal pages are on one host: four at once at the most, and more than one.
    QVERIFY2(inFlightAtFirstWait > 1 && inFlightAtFirstWait <= 4,
             qPrintable(QString::number(inFlightAtFirstWait)));
    QCOMPARE(h.transfer.liveFetches, 0);
}

void LoadAheadTest::loadingAhead_takesNoPageTheUserMovedAwayFrom()
{
    WindowHarness h;
    scriptSite(h);
    h.crawl(Start);
    // Right after the check makes /p1 current, the user selects /p6: the check tests /p6, not
    // the /p1 fetched ahead for that entry.
    bool moved = false;
    connect(h.list("lstInternal"), &ListBox::currentIndexChanged, &h.window, [&](qsizetype index) {
        if (index == 1 && !std::exchange(moved, true))
            soon([&] { h.list("lstInternal")->setCurrentIndex(6); });
    });
    h.click("cmdCheckBroken");
    QCOMPARE(h.transfer.consumed.mid(0, 3), QStringList({page(0), page(6), page(2)}));
    QCOMPARE(h.transfer.liveFetches, 0);
}

QTEST_MAIN(LoadAheadTest)
#include "tst_loadahead.moc"
