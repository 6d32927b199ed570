#include "support/windowharness.h"

#include <app/optionsdialog.h>

#include <QApplication>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>

namespace {

// Gives `start` the focus, then presses `key` until the focus comes back to it or has moved
// 40 times. Returns the names of the controls that had the focus, `start` first.
QStringList focusCycle(const WindowHarness &h, const char *start,
                       Qt::KeyboardModifiers modifiers = {})
{
    h.get(start)->setFocus(Qt::TabFocusReason);
    QStringList visited = {focusName()};
    for (int i = 0; i < 40; ++i) {
        QWidget *focus = QApplication::focusWidget();
        if (!focus)
            break;
        QTest::keyClick(focus, Qt::Key_Tab, modifiers);
        visited.append(focusName());
        if (visited.last() == QLatin1String(start))
            break;
    }
    return visited;
}

QMenu *openMenu()
{
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

QString chosenEntry()
{
    QMenu *menu = openMenu();
    return menu && menu->activeAction() ? menu->activeAction()->objectName() : QString();
}

// Closes whatever menu is open, and leaves the menu bar.
void closeMenus(const WindowHarness &h)
{
    for (int i = 0; i < 4 && openMenu(); ++i)
        QTest::keyClick(openMenu(), Qt::Key_Escape);
    for (int i = 0; i < 2 && h.window.menuBar()->activeAction(); ++i)
        QTest::keyClick(h.window.menuBar(), Qt::Key_Escape);
}

const QStringList NoPanel = {"txtAddress", "cmdCrawl", "lstInternal", "lstExternal", "txtHTML"};

} // namespace

class KeyboardTest final : public QObject
{
    Q_OBJECT

private slots:
    void tab_visitsControlsInOrder_data();
    void tab_visitsControlsInOrder();
    void tab_skipsDisabledControlsAndVisitsEnabledOnes();
    void shiftTab_visitsControlsInReverseOrder();
    void options_tabVisitsEveryControlTopToBottom();

    void menus_f10OpensFileMenuWithFirstEntryChosen();
    void menus_arrowKeysReachEveryEntry();
    void menus_enterRunsChosenEntry();
    void menus_loneAltChoosesMenuBar();

    void buttons_spacePressesFocusedButton();
    void buttons_spaceOnForceStopStopsTheCrawl();
    void lists_arrowKeysMoveTheSelection();
};

void KeyboardTest::tab_visitsControlsInOrder_data()
{
    QTest::addColumn<QString>("menuEntry");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("no panel") << QString() << (NoPanel + QStringList {"txtAddress"});
    QTest::newRow("settings") << "mnuSettings"
                              << (NoPanel
                                  + QStringList {"lstErrors", "cmdSettingsAdd", "cmdSettingsRemove",
                                                 "cmdSettingsDone", "txtAddress"});
    // Check broken links is disabled until a crawl has run.
    QTest::newRow("broken links") << "mnuCheckBroken"
                                  << (NoPanel
                                      + QStringList {"txtBroken", "cmdBrokenHide", "txtAddress"});
    QTest::newRow("links to page")
            << "mnuLinksToPage"
            << (NoPanel
                + QStringList {"txtBrokenLink", "cmdBrokenLinkCrawl", "txtLinksToPage",
                               "cmdLinksHide", "txtAddress"});
}

void KeyboardTest::tab_visitsControlsInOrder()
{
    QFETCH(QString, menuEntry);
    QFETCH(QStringList, order);
    WindowHarness h;
    showActive(h.window);
    if (!menuEntry.isEmpty())
        h.trigger(menuEntry.toLatin1().constData());
    QCOMPARE(focusCycle(h, "txtAddress"), order);
}

// While a crawl runs, the address box and Crawl are disabled and Force Stop is enabled; once it
// has run, Check broken links is enabled too.
void KeyboardTest::tab_skipsDisabledControlsAndVisitsEnabledOnes()
{
    WindowHarness h;
    const QString start = QStringLiteral("http://site.test/");
    h.documents.setPage(start, {"http://site.test/a", "http://other.test/"});
    h.documents.holdPage(start);
    QStringList whileCrawling;
    h.documents.onWait = [&](const QString &address) {
        if (address != start)
            return;
        soon([&] {
            whileCrawling = focusCycle(h, "lstInternal");
            h.documents.release(start);
        });
    };
    showActive(h.window);
    h.trigger("mnuCheckBroken");
    h.crawl(start);
    QCOMPARE(whileCrawling, QStringList({"lstInternal", "lstExternal", "cmdForceStop", "txtHTML",
                                         "txtBroken", "cmdBrokenHide", "lstInternal"}));
    QCOMPARE(
            focusCycle(h, "txtAddress"),
            QStringList({"txtAddress", "cmdCrawl", "lstInternal", "lstExternal", "cmdForceStop",
                         "txtHTML", "txtBroken", "cmdCheckBroken", "cmdBrokenHide", "txtAddress"}));
}

void KeyboardTest::shiftTab_visitsControlsInReverseOrder()
{
    WindowHarness h;
    showActive(h.window);
    h.trigger("mnuLinksToPage");
    QCOMPARE(focusCycle(h, "txtAddress", Qt::ShiftModifier),
             QStringList({"txtAddress", "cmdLinksHide", "txtLinksToPage", "cmdBrokenLinkCrawl",
                          "txtBrokenLink", "txtHTML", "lstExternal", "lstInternal", "cmdCrawl",
                          "txtAddress"}));
}

void KeyboardTest::options_tabVisitsEveryControlTopToBottom()
{
    OptionsDialog dialog {CheckSettings()};
    showActive(dialog);
    QCOMPARE(focusName(), "chkResources");
    QStringList visited = {focusName()};
    for (int i = 0; i < 40 && QApplication::focusWidget(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(focusName());
        if (visited.last() == visited.first())
            break;
    }
    // Certificates, our name and the crawl's levels come after the cookie file.
    const QStringList ours = {"txtCaFile", "chkInsecure", "txtUserAgent", "spnCrawlLevels",
                              "txtSiteUrl"};
    QCOMPARE(visited.mid(visited.indexOf("cmdCookieFileBrowse") + 1, ours.size()), ours);
    for (const QString &name : ours)
        visited.removeOne(name);
    QCOMPARE(visited,
             QStringList({"chkResources", "chkFragments", "chkStrictRedirects", "chkRobots",
                          "spnPerHost", "spnPause", "spnRetryCap", "txtAccept", "txtExclude",
                          "txtNoCrawl", "txtHeaders", "txtUser", "txtPassword", "txtCookieFile",
                          "cmdCookieFileBrowse", "txtSitemap", "cmdOptionsOk", "cmdOptionsCancel",
                          "chkResources"}));
}

void KeyboardTest::menus_f10OpensFileMenuWithFirstEntryChosen()
{
    WindowHarness h;
    showActive(h.window);
    h.get("txtAddress")->setFocus();
    QTest::keyClick(h.get("txtAddress"), Qt::Key_F10);
    QVERIFY(openMenu());
    QCOMPARE(openMenu()->objectName(), "mnuFile");
    QCOMPARE(chosenEntry(), "mnuNew");
    closeMenus(h);
    QVERIFY(!openMenu());

    // From a list box as well: F10 belongs to the whole window.
    h.get("lstExternal")->setFocus();
    QTest::keyClick(h.get("lstExternal"), Qt::Key_F10);
    QVERIFY(openMenu());
    QCOMPARE(openMenu()->objectName(), "mnuFile");
    closeMenus(h);
}

void KeyboardTest::menus_arrowKeysReachEveryEntry()
{
    WindowHarness h;
    showActive(h.window);
    const QList<QAction *> menus = h.window.menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    int reached = 0;
    for (int m = 0; m < menus.size(); ++m) {
        const QList<QAction *> entries = menus.at(m)->menu()->actions();
        for (int e = 0; e < entries.size(); ++e) {
            h.get("txtAddress")->setFocus();
            QTest::keyClick(h.get("txtAddress"), Qt::Key_F10);
            for (int i = 0; i < m; ++i)
                QTest::keyClick(openMenu(), Qt::Key_Right);
            for (int i = 0; i < e; ++i)
                QTest::keyClick(openMenu(), Qt::Key_Down);
            QVERIFY(openMenu());
            QCOMPARE(openMenu()->objectName(), menus.at(m)->menu()->objectName());
            QCOMPARE(chosenEntry(), entries.at(e)->objectName());
            closeMenus(h);
            ++reached;
        }
    }
    QCOMPARE(reached, 9);

    // Left goes back from the first menu round to the last.
    QTest::keyClick(h.get("txtAddress"), Qt::Key_F10);
    QTest::keyClick(openMenu(), Qt::Key_Left);
    QVERIFY(openMenu());
    QCOMPARE(openMenu()->objectName(), "mnuToos");
    closeMenus(h);
}

void KeyboardTest::menus_enterRunsChosenEntry()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/", {"http://site.test/a", "http://other.test/"});
    showActive(h.window);
    h.setAddress("http://site.test/");
    h.get("txtAddress")->setFocus();

    // Crawl Setup > Settings
    QTest::keyClick(h.get("txtAddress"), Qt::Key_F10);
    QTest::keyClick(openMenu(), Qt::Key_Right);
    QTest::keyClick(openMenu(), Qt::Key_Return);
    QVERIFY(!openMenu());
    QVERIFY(h.get<QGroupBox>("fraSettings")->isVisible());

    // Tools > Start Crawl
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10);
    QTest::keyClick(openMenu(), Qt::Key_Right);
    QTest::keyClick(openMenu(), Qt::Key_Right);
    QCOMPARE(chosenEntry(), "mnuCrawl");
    QTest::keyClick(openMenu(), Qt::Key_Return);
    QCOMPARE(h.entries("lstInternal"), QStringList({"http://site.test/a"}));
    QCOMPARE(h.entries("lstExternal"), QStringList({"http://other.test/"}));
}

void KeyboardTest::menus_loneAltChoosesMenuBar()
{
    WindowHarness h;
    showActive(h.window);
    if (!h.window.style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr,
                                     h.window.menuBar()))
        QSKIP("this style leaves a lone Alt press to the desktop");
    QWidget *address = h.get("txtAddress");
    address->setFocus();
    QTest::keyPress(address, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(address, Qt::Key_Alt);
    QCOMPARE(h.window.menuBar()->activeAction(), h.get<QMenu>("mnuFile")->menuAction());
    QTest::keyClick(h.window.menuBar(), Qt::Key_Down);
    QVERIFY(openMenu());
    QCOMPARE(openMenu()->objectName(), "mnuFile");
    closeMenus(h);
}

void KeyboardTest::buttons_spacePressesFocusedButton()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/", {"http://site.test/a", "http://other.test/"});
    h.documents.setPage("http://site.test/a", {"http://site.test/b"});
    showActive(h.window);
    h.setAddress("http://site.test/");
    QTest::keyClick(h.get("txtAddress"), Qt::Key_Tab);
    QCOMPARE(focusName(), "cmdCrawl");
    QTest::keyClick(h.get("cmdCrawl"), Qt::Key_Space);
    QCOMPARE(h.documents.consumed, QStringList({"http://site.test/", "http://site.test/a"}));
    QCOMPARE(h.entries("lstInternal"), QStringList({"http://site.test/a", "http://site.test/b"}));
    QCOMPARE(h.entries("lstExternal"), QStringList({"http://other.test/"}));
    QCOMPARE(h.caption("lblInternal"), "Internal links: 2");

    // Hide, pressed with Space, hides its panel.
    h.trigger("mnuLinksToPage");
    h.get("cmdLinksHide")->setFocus();
    QTest::keyClick(h.get("cmdLinksHide"), Qt::Key_Space);
    QVERIFY(!h.get<QGroupBox>("fraLinksToPage")->isVisible());
}

void KeyboardTest::buttons_spaceOnForceStopStopsTheCrawl()
{
    WindowHarness h;
    const QString start = QStringLiteral("http://site.test/");
    h.documents.setPage(start, {"http://site.test/a", "http://site.test/b"});
    h.documents.holdPage(start);
    h.documents.onWait = [&](const QString &address) {
        if (address != start)
            return;
        soon([&] {
            QTest::keyClick(h.get("lstExternal"), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        });
    };
    showActive(h.window);
    h.get("lstExternal")->setFocus();
    h.crawl(start);
    QVERIFY(h.window.stopRequested());
    QVERIFY(!h.documents.consumed.contains("http://site.test/a"));
    QVERIFY(!h.documents.consumed.contains("http://site.test/b"));
    QVERIFY(h.button("cmdCheckBroken")->isEnabled());
}

void KeyboardTest::lists_arrowKeysMoveTheSelection()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/",
                        {"http://one.test/", "http://two.test/", "http://three.test/"});
    showActive(h.window);
    h.crawl("http://site.test/");
    ListBox *external = h.list("lstExternal");
    QCOMPARE(external->count(), 3);
    external->setFocus();
    QTest::keyClick(external, Qt::Key_Home);
    QCOMPARE(external->currentText(), "http://one.test/");
    QTest::keyClick(external, Qt::Key_Up);
    QCOMPARE(external->currentIndex(), 0);
    QTest::keyClick(external, Qt::Key_Down);
    QCOMPARE(external->currentText(), "http://two.test/");
    QTest::keyClick(external, Qt::Key_Down);
    QTest::keyClick(external, Qt::Key_Down);
    QCOMPARE(external->currentText(), "http://three.test/");
    QTest::keyClick(external, Qt::Key_Up);
    QCOMPARE(external->currentIndex(), 1);
    QTest::keyClick(external, Qt::Key_End);
    QCOMPARE(external->currentIndex(), 2);
    // Tab leaves the list without changing its selection.
    QTest::keyClick(external, Qt::Key_Tab);
    QCOMPARE(focusName(), "cmdForceStop");
    QCOMPARE(external->currentIndex(), 2);
}

QTEST_MAIN(KeyboardTest)
#include "tst_keyboard.moc"
