#include "support/windowharness.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

using namespace std::chrono_literals;

namespace {

// Answers the next input box with `answer`, or cancels it when `answer` is null.
void answerInputBox(const QString &answer)
{
    QTimer::singleShot(0, [answer] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QInputDialog *>(top); box && box->isVisible()) {
                QCOMPARE(box->windowTitle(), "Broken link text");
                QCOMPARE(box->labelText(), "What text would prove a broken link?");
                QCOMPARE(box->textValue(), QString());
                if (answer.isNull()) {
                    box->reject();
                } else {
                    box->setTextValue(answer);
                    box->accept();
                }
                return;
            }
        }
        answerInputBox(answer); // not shown yet
    });
}

// Answers the next Options dialog: `fill` changes its controls, then `button` is clicked. A dialog
// still open after that is cancelled, and what it showed as the error goes to `error`.
void answerOptions(std::function<void(QDialog &)> fill, const QString &button, QString *error)
{
    QTimer::singleShot(0, [=] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QDialog *>(top);
            if (!dialog || !dialog->isVisible() || dialog->objectName() != "dlgOptions")
                continue;
            QVERIFY(dialog->isModal());
            fill(*dialog);
            dialog->findChild<QPushButton *>(button)->click();
            if (dialog->isVisible()) {
                auto *shown = dialog->findChild<QLabel *>("lblOptionsError");
                *error = shown->isVisibleTo(dialog) ? shown->text() : QStringLiteral("(hidden)");
                dialog->reject();
            }
            return;
        }
        answerOptions(fill, button, error); // not shown yet
    });
}

bool panelShown(const WindowHarness &h, const char *name)
{
    return h.get<QGroupBox>(name)->isVisible();
}

} // namespace

class MainWindowTest final : public QObject
{
    Q_OBJECT

private slots:
    void start_controlsInTheirInitialState();
    void start_menusInTheirOrder();
    void start_panelsShareOnePlace();
    void resize_keepsOuterHeightAndFollowsWidth();
    void resize_leavesFixedControlsInPlace();
    void panels_oneShownAtATime();
    void panels_hideButtonsHideAll();
    void enterInAddressBox_startsNothing();
    void new_resetsWindowForAnotherSite();
    void exit_closesWindowAndRequestsStop();
    void copyright_opensMakersHomePage();
    void errorTexts_addAppendsTypedText();
    void errorTexts_cancelAppendsEmptyText();
    void errorTexts_removeDeletesCurrentOnly();
    void errorTexts_keptFromOneStartToTheNext();
    void options_changedOnlyByAValidOk_data();
    void options_changedOnlyByAValidOk();
    void title_tellsWhatRunsAndHowFar();
};

void MainWindowTest::start_controlsInTheirInitialState()
{
    WindowHarness h;
    h.window.show();
    QCOMPARE(h.window.objectName(), "frmMain");
    QCOMPARE(h.window.windowTitle(), "Skarnel");
    QVERIFY(h.window.font().bold());
    QVERIFY(h.window.windowIcon().availableSizes().contains(QSize(16, 16)));
    QVERIFY(h.window.windowIcon().availableSizes().contains(QSize(32, 32)));
    QCOMPARE(h.window.palette().color(QPalette::Window), QColor(192, 192, 192));
    for (const char *panel : {"fraBroken", "fraLinksToPage", "fraSettings"})
        QVERIFY(!panelShown(h, panel));
    QVERIFY(!h.button("cmdCheckBroken")->isEnabled());
    QVERIFY(!h.button("cmdForceStop")->isEnabled());
    QVERIFY(h.button("cmdCrawl")->isEnabled());
    QCOMPARE(h.caption("lblInternal"), "Internal links: 0");
    QCOMPARE(h.caption("lblExternal"), "External links: 0");
    QCOMPARE(h.caption("lblTotal"), "Total links: 0");
    QCOMPARE(h.caption("lblBroken"), "Broken links: 0");
    QCOMPARE(h.caption("lblCopyright"), "By Veltrano");
    QCOMPARE(h.entries("lstErrors"), QStringList({"404", "page not found"}));
    QCOMPARE(h.list("lstErrors")->currentIndex(), -1);
    QCOMPARE(h.text("txtAddress"), MainWindow::MakersHomePage);
    QVERIFY(!h.window.stopRequested());
    QCOMPARE(h.button("cmdCheckBroken")->text(), "Check broken links");
    QCOMPARE(h.button("cmdBrokenLinkCrawl")->text(), "Find links");
    // The internal list covers Force Stop and the page-text box.
    QVERIFY(h.get("lstInternal")->geometry().contains(h.get("cmdForceStop")->geometry()));
    QVERIFY(h.get("lstInternal")->geometry().contains(h.get("txtHTML")->geometry()));
    QWidget *client = h.window.centralWidget();
    QVERIFY(client->children().indexOf(h.get("lstInternal"))
            > client->children().indexOf(h.get("cmdForceStop")));
}

void MainWindowTest::start_menusInTheirOrder()
{
    WindowHarness h;
    QStringList menus;
    QStringList entries;
    for (QAction *menuAction : h.window.menuBar()->actions()) {
        menus.append(menuAction->menu()->objectName() + "=" + menuAction->text());
        for (QAction *entry : menuAction->menu()->actions()) {
            entries.append(entry->objectName() + "=" + entry->text());
            QVERIFY(entry->isEnabled());
        }
    }
    QCOMPARE(menus, QStringList({"mnuFile=File", "mnuCrawlSetup=Crawl Setup", "mnuToos=Tools"}));
    QCOMPARE(entries,
             QStringList({"mnuNew=New", "mnuSaveReport=Save Report\u2026", "mnuExit=Exit",
                          "mnuSettings=Settings", "mnuForceStop=Force Stop",
                          "mnuOptions=Options\u2026", "mnuCrawl=Start Crawl",
                          "mnuCheckBroken=Check broken links", "mnuLinksToPage=Links to page"}));
}

void MainWindowTest::start_panelsShareOnePlace()
{
    WindowHarness h;
    h.window.show();
    for (const char *panel : {"fraBroken", "fraLinksToPage", "fraSettings"})
        QCOMPARE(h.get(panel)->pos(), QPoint(8, 8));
}

void MainWindowTest::resize_keepsOuterHeightAndFollowsWidth()
{
    WindowHarness h;
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));
    QCOMPARE(h.window.frameGeometry().height(), 461);

    h.window.resize(700, 900);
    QTRY_COMPARE_WITH_TIMEOUT(h.window.frameGeometry().height(), 461, hangBoundMs(5s));
    const int outerWidth = h.window.frameGeometry().width();
    QCOMPARE(outerWidth, 700 + h.window.frameGeometry().width() - h.window.width());
    for (const char *name :
         {"fraBroken", "fraLinksToPage", "fraSettings", "lstInternal", "lstExternal"})
        QCOMPARE(h.get(name)->width(), outerWidth - 24);
    for (const char *name : {"txtBroken", "txtLinksToPage"})
        QCOMPARE(h.get(name)->width(), outerWidth - 48);

    h.window.resize(400, 461);
    QTRY_COMPARE_WITH_TIMEOUT(h.get("lstInternal")->width(), h.window.frameGeometry().width() - 24,
                              hangBoundMs(5s));
    QCOMPARE(h.get("txtBroken")->width(), h.window.frameGeometry().width() - 48);
}

void MainWindowTest::resize_leavesFixedControlsInPlace()
{
    WindowHarness h;
    h.window.show();
    QList<QRect> before;
    const char *fixed[] = {"txtAddress",    "cmdCrawl",     "txtHTML",        "cmdForceStop",
                           "lblTotal",      "lblCopyright", "cmdCheckBroken", "cmdBrokenHide",
                           "txtBrokenLink", "lstErrors"};
    for (const char *name : fixed)
        before.append(h.get(name)->geometry());
    h.window.resize(800, 461);
    QTRY_COMPARE_WITH_TIMEOUT(h.get("lstInternal")->width(), h.window.frameGeometry().width() - 24,
                              hangBoundMs(5s));
    for (std::size_t i = 0; i < std::size(fixed); ++i)
        QCOMPARE(h.get(fixed[i])->geometry(), before.at(int(i)));
    QCOMPARE(h.get("txtAddress")->geometry(), QRect(96, 24, 225, 19));
    QCOMPARE(h.get("lstExternal")->pos(), QPoint(8, 216));
}

void MainWindowTest::panels_oneShownAtATime()
{
    WindowHarness h;
    h.window.show();
    h.trigger("mnuCheckBroken");
    QVERIFY(panelShown(h, "fraBroken"));
    h.trigger("mnuSettings");
    QVERIFY(panelShown(h, "fraSettings"));
    QVERIFY(!panelShown(h, "fraBroken"));
    h.trigger("mnuSettings");
    QVERIFY(panelShown(h, "fraSettings"));
    h.trigger("mnuLinksToPage");
    QVERIFY(panelShown(h, "fraLinksToPage"));
    QVERIFY(!panelShown(h, "fraSettings"));
    // The menu entry only shows the panel; the check needs its button.
    QVERIFY(h.transfer.requested.isEmpty());
}

void MainWindowTest::panels_hideButtonsHideAll()
{
    WindowHarness h;
    h.window.show();
    const std::pair<const char *, const char *> panels[] = {{"mnuCheckBroken", "cmdBrokenHide"},
                                                            {"mnuLinksToPage", "cmdLinksHide"},
                                                            {"mnuSettings", "cmdSettingsDone"}};
    for (const auto &[entry, hide] : panels) {
        h.trigger(entry);
        h.click(hide);
        for (const char *panel : {"fraBroken", "fraLinksToPage", "fraSettings"})
            QVERIFY(!panelShown(h, panel));
    }
}

void MainWindowTest::enterInAddressBox_startsNothing()
{
    WindowHarness h;
    h.window.show();
    h.setAddress("http://site.test/");
    QTest::keyClick(h.get("txtAddress"), Qt::Key_Return);
    QTest::keyClick(h.get("txtBrokenLink"), Qt::Key_Return);
    QVERIFY(h.documents.requested.isEmpty());
}

void MainWindowTest::new_resetsWindowForAnotherSite()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/", {"http://site.test/a", "http://other.test/"});
    h.transfer.setPage("http://site.test/a", "404");
    h.crawl("http://site.test/");
    h.click("cmdCheckBroken");
    h.get<QLineEdit>("txtBrokenLink")->setText("http://site.test/a");
    h.get<MultiLineTextBox>("txtLinksToPage")->setPlainText("earlier results");
    h.trigger("mnuSettings");
    QCOMPARE(h.caption("lblBroken"), "Broken links: 2");

    h.trigger("mnuNew");

    QVERIFY(h.entries("lstInternal").isEmpty());
    QVERIFY(h.entries("lstExternal").isEmpty());
    QCOMPARE(h.text("txtAddress"), "http://www.");
    QVERIFY(h.get("txtAddress")->isEnabled());
    QCOMPARE(h.text("txtBroken"), QString());
    QCOMPARE(h.text("txtHTML"), QString());
    QVERIFY(h.button("cmdCrawl")->isEnabled());
    QVERIFY(!h.button("cmdCheckBroken")->isEnabled());
    QVERIFY(!h.button("cmdForceStop")->isEnabled());
    QCOMPARE(h.caption("lblInternal"), "Internal links: 0");
    QCOMPARE(h.caption("lblExternal"), "External links: 0");
    QCOMPARE(h.caption("lblTotal"), "Total links: 0");
    QCOMPARE(h.caption("lblBroken"), "Broken links: 0");
    QVERIFY(h.window.stopRequested());
    QCOMPARE(h.text("txtBrokenLink"), "http://site.test/a");
    QCOMPARE(h.text("txtLinksToPage"), "earlier results");
    QCOMPARE(h.entries("lstErrors"), QStringList({"404", "page not found"}));
    QVERIFY(h.get("fraSettings")->isVisibleTo(&h.window));
}

void MainWindowTest::exit_closesWindowAndRequestsStop()
{
    WindowHarness h;
    h.window.show();
    h.trigger("mnuExit");
    QVERIFY(!h.window.isVisible());
    QVERIFY(h.window.stopRequested());
}

void MainWindowTest::copyright_opensMakersHomePage()
{
    WindowHarness h;
    h.window.show();
    h.shell.succeed = false;
    QTest::mouseClick(h.get("lblCopyright"), Qt::LeftButton);
    QCOMPARE(h.shell.opened, QStringList({MainWindow::MakersHomePage}));
    // A shell that cannot open the address shows nothing.
    for (QWidget *top : QApplication::topLevelWidgets())
        QVERIFY(top == &h.window || !top->isVisible());
}

void MainWindowTest::errorTexts_addAppendsTypedText()
{
    WindowHarness h;
    h.window.show();
    h.trigger("mnuSettings");
    answerInputBox(QStringLiteral("  Server Error  "));
    h.click("cmdSettingsAdd");
    answerInputBox(QStringLiteral("404"));
    h.click("cmdSettingsAdd");
    QCOMPARE(h.entries("lstErrors"),
             QStringList({"404", "page not found", "  Server Error  ", "404"}));
}

void MainWindowTest::errorTexts_cancelAppendsEmptyText()
{
    WindowHarness h;
    h.window.show();
    answerInputBox(QString());
    h.click("cmdSettingsAdd");
    QCOMPARE(h.entries("lstErrors"), QStringList({"404", "page not found", ""}));
}

void MainWindowTest::errorTexts_removeDeletesCurrentOnly()
{
    WindowHarness h;
    ListBox *errors = h.list("lstErrors");
    h.click("cmdSettingsRemove");
    QCOMPARE(errors->count(), 2);

    errors->setCurrentIndex(0);
    h.click("cmdSettingsRemove");
    QCOMPARE(h.entries("lstErrors"), QStringList({"page not found"}));
    QCOMPARE(errors->currentIndex(), -1);
    h.click("cmdSettingsRemove");
    QCOMPARE(errors->count(), 1);

    errors->setCurrentIndex(0);
    h.click("cmdSettingsRemove");
    QCOMPARE(errors->count(), 0);
    h.click("cmdSettingsRemove");
    QCOMPARE(errors->count(), 0);
}

// Each change is kept at once; a window started later shows the list as it was left, and a first
// start shows the two texts the list starts with.
void MainWindowTest::errorTexts_keptFromOneStartToTheNext()
{
    QTemporaryDir profile;
    const QString file = profile.filePath("Skarnel.conf");
    const auto shownAtStart = [&] {
        QSettings store(file, QSettings::IniFormat);
        WindowHarness h;
        h.window.keepErrorTexts(store);
        return h.entries("lstErrors");
    };
    QSettings store(file, QSettings::IniFormat);
    WindowHarness h;
    h.window.keepErrorTexts(store);
    QCOMPARE(h.entries("lstErrors"), QStringList({"404", "page not found"}));

    answerInputBox(QStringLiteral("gone, \"for\" good \u00e9"));
    h.click("cmdSettingsAdd");
    QCOMPARE(shownAtStart(), QStringList({"404", "page not found", "gone, \"for\" good \u00e9"}));
    h.list("lstErrors")->setCurrentIndex(0);
    h.click("cmdSettingsRemove");
    QCOMPARE(shownAtStart(), QStringList({"page not found", "gone, \"for\" good \u00e9"}));
    for (int i = 0; i < 2; ++i) {
        h.list("lstErrors")->setCurrentIndex(0);
        h.click("cmdSettingsRemove");
    }
    QCOMPARE(shownAtStart(), QStringList());

    // A window given no store keeps nothing and starts as ever.
    WindowHarness other;
    QCOMPARE(other.entries("lstErrors"), QStringList({"404", "page not found"}));
}

void MainWindowTest::options_changedOnlyByAValidOk_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("accept");
    QTest::addColumn<QString>("exclude");
    QTest::addColumn<QString>("headers");
    QTest::addColumn<QString>("error");  // empty: the dialog closes
    QTest::addColumn<QString>("caFile"); // CA: the test authority
    const QString headers = "Authorization: Bearer t0ken-s3cret\n\nX-Team: web";
    QTest::newRow("ok") << "cmdOptionsOk"
                        << "403, 429 403"
                        << "\\.pdf$" << headers << ""
                        << "CA";
    QTest::newRow("cancel") << "cmdOptionsCancel"
                            << "403"
                            << "x" << headers << ""
                            << "CA";
    QTest::newRow("pattern that does not compile") << "cmdOptionsOk"
                                                   << "403"
                                                   << "(" << headers << "The exclude pattern \"(\""
                                                   << "CA";
    QTest::newRow("status that is no number") << "cmdOptionsOk"
                                              << "4xx"
                                              << "" << headers << "Accept statuses: \"4xx\""
                                              << "CA";
    QTest::newRow("header without a colon") << "cmdOptionsOk"
                                            << ""
                                            << ""
                                            << "Bearer t0ken-s3cret"
                                            << "A header is written \"Name: value\""
                                            << "CA";
    QTest::newRow("CA file that does not exist") << "cmdOptionsOk"
                                                 << ""
                                                 << ""
                                                 << ""
                                                 << "The CA file /none/ca.pem does not exist"
                                                 << "/none/ca.pem";
}

// OK keeps what may be kept, at once, for the next start; the headers and the password stay in
// memory only. Cancel and settings that do not hold together change nothing.
void MainWindowTest::options_changedOnlyByAValidOk()
{
    QFETCH(QString, button);
    QFETCH(QString, accept);
    QFETCH(QString, exclude);
    QFETCH(QString, headers);
    QFETCH(QString, error);
    QFETCH(QString, caFile);
    caFile.replace("CA", QFINDTESTDATA("data/tls/ca.pem"));
    QTemporaryDir profile;
    const QString file = profile.filePath("Skarnel.conf");
    const QString cookies = profile.filePath("cookies.txt");
    {
        QFile cookieFile(cookies);
        QVERIFY(cookieFile.open(QIODevice::WriteOnly));
        cookieFile.write("# Netscape HTTP Cookie File\n\n#HttpOnly_.site.test\tTRUE\t/\tFALSE\t0\t"
                         "session\tc00kie-s3cret\n");
    }
    QSettings store(file, QSettings::IniFormat);
    WindowHarness h;
    h.window.keepSettings(store);
    QCOMPARE(h.window.settings(), CheckSettings());

    QString shownError;
    answerOptions(
            [&](QDialog &dialog) {
                dialog.findChild<QCheckBox *>("chkResources")->setChecked(true);
                dialog.findChild<QCheckBox *>("chkStrictRedirects")->setChecked(true);
                dialog.findChild<QSpinBox *>("spnPerHost")->setValue(2);
                dialog.findChild<QSpinBox *>("spnPause")->setValue(250);
                dialog.findChild<QLineEdit *>("txtAccept")->setText(accept);
                dialog.findChild<QLineEdit *>("txtExclude")->setText(exclude);
                dialog.findChild<QLineEdit *>("txtNoCrawl")->setText("/archive/");
                dialog.findChild<QPlainTextEdit *>("txtHeaders")->setPlainText(headers);
                dialog.findChild<QLineEdit *>("txtUser")->setText("ci");
                dialog.findChild<QLineEdit *>("txtPassword")->setText("pa55-s3cret");
                dialog.findChild<QLineEdit *>("txtCookieFile")->setText(cookies);
                dialog.findChild<QLineEdit *>("txtCaFile")->setText(caFile);
                dialog.findChild<QCheckBox *>("chkInsecure")->setChecked(true);
                dialog.findChild<QLineEdit *>("txtUserAgent")->setText("Team-Checker/2");
                dialog.findChild<QSpinBox *>("spnCrawlLevels")->setValue(CheckSettings::AllLevels);
                dialog.findChild<QLineEdit *>("txtSiteUrl")->setText("https://docs.example/");
                dialog.findChild<QCheckBox *>("chkRobots")->setChecked(true);
                dialog.findChild<QLineEdit *>("txtSitemap")->setText("auto");
            },
            button, &shownError);
    h.trigger("mnuOptions");

    QVERIFY2(error.isEmpty() ? shownError.isNull() : shownError.startsWith(error),
             qPrintable(shownError));
    QVERIFY(!shownError.contains("s3cret"));
    QFile kept(file);
    QVERIFY(!kept.exists() || kept.open(QIODevice::ReadOnly));
    QVERIFY(!kept.readAll().contains("s3cret"));
    const auto startedAgain = [&] {
        QSettings again(file, QSettings::IniFormat);
        WindowHarness later;
        later.window.keepSettings(again);
        return later.window.settings();
    };
    if (button == "cmdOptionsCancel" || !error.isEmpty()) {
        QCOMPARE(h.window.settings(), CheckSettings());
        QCOMPARE(startedAgain(), CheckSettings());
        return;
    }
    CheckSettings expected {.resources = true,
                            .strictRedirects = true,
                            .accept = {403, 429},
                            .exclude = exclude,
                            .noCrawl = "/archive/",
                            .perHost = 2,
                            .pauseMs = 250,
                            .headers = {"Authorization: Bearer t0ken-s3cret", "X-Team: web"},
                            .user = "ci",
                            .password = "pa55-s3cret",
                            .cookieFile = cookies,
                            .caFile = caFile,
                            .insecure = true,
                            .userAgent = "Team-Checker/2",
                            .crawlLevels = CheckSettings::AllLevels,
                            .siteUrl = "https://docs.example/",
                            .robots = true,
                            .sitemap = "auto"};

    QCOMPARE(h.window.settings(), expected);
    expected.headers.clear();
    expected.password.clear();
    expected.insecure = false;
    QCOMPARE(startedAgain(), expected);
}

void MainWindowTest::title_tellsWhatRunsAndHowFar()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/",
                        {"http://site.test/a", "http://site.test/b", "http://other.test/x"});
    QStringList titles;
    const auto noteTitle = [&](const QString &) { titles.append(h.window.windowTitle()); };
    h.documents.onWait = noteTitle;
    h.transfer.onWait = noteTitle;

    h.crawl("http://site.test/");
    QCOMPARE(h.window.windowTitle(), "Skarnel");
    h.check();
    QCOMPARE(h.window.windowTitle(), "Skarnel");
    h.findLinks("http://other.test/x");
    QCOMPARE(h.window.windowTitle(), "Skarnel");

    QCOMPARE(
            titles,
            QStringList({"Skarnel \u2013 crawling the start page", "Skarnel \u2013 crawling 2 of 3",
                         "Skarnel \u2013 crawling 3 of 3", "Skarnel \u2013 checking 1 of 3",
                         "Skarnel \u2013 checking 2 of 3", "Skarnel \u2013 checking 3 of 3",
                         "Skarnel \u2013 searching 1 of 2", "Skarnel \u2013 searching 2 of 2"}));

    // A stopped check gives the title back too.
    h.transfer.onWait = [&](const QString &) {
        titles = {h.window.windowTitle()};
        soon([&] { h.trigger("mnuForceStop"); });
    };
    h.check();
    QCOMPARE(titles, QStringList({"Skarnel \u2013 checking 1 of 3"}));
    QCOMPARE(h.window.windowTitle(), "Skarnel");
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
