#include "mainwindow.h"

#include "clickablelabel.h"
#include "desktopshell.h"
#include "menukeys.h"
#include "optionsdialog.h"
#include "twips.h"
#include "windowlayout.h"

#include <walk/eventloop.h>
#include <widgets/listbox.h>
#include <widgets/multilinetextbox.h>
#include <widgets/repaintpacer.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <vector>

namespace skarnel {

const QString MainWindow::MakersHomePage = QStringLiteral("https://skarnel.example/");

namespace {

const QColor LightGrey(192, 192, 192);

template<typename Control>
Control *place(Control *control, const char *name, QRect geometry)
{
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    return control;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *label = place(new QLabel(caption, parent), name, geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *button = place(new QPushButton(caption, parent), name, geometry);
    // No button is a default button: Enter in a text box starts nothing.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLineEdit *makeLineEdit(QWidget *parent, const char *name, const QString &text, QRect geometry)
{
    auto *box = place(new QLineEdit(text, parent), name, geometry);
    // An address may be as long as a list entry can be.
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

QGroupBox *makePanel(QWidget *parent, const char *name, const QString &caption)
{
    auto *panel = place(new QGroupBox(caption, parent), name, rectFromTwips(120, 120, 7575, 4935));
    panel->setAutoFillBackground(true);
    panel->hide();
    return panel;
}

bool canTakeFocus(const QWidget &control)
{
    return control.isVisible() && control.isEnabled() && control.focusPolicy() != Qt::NoFocus;
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 128})
        icon.addFile(QStringLiteral(":/icons/skarnel-%1.png").arg(size), QSize(size, size));
    return icon;
}

QFont windowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(true);
    return font;
}

// The layout was drawn up for a narrower font than the desktops' own. A caption that would be cut
// off at the window's font is drawn condensed just enough to fit, its control keeping its place.
void condenseToFit(QWidget &control, const QString &caption, int room)
{
    constexpr int NarrowestStretch = 75;
    QFont font = control.font();
    int stretch = 100;
    while (QFontMetrics(font).horizontalAdvance(caption) > room && stretch > NarrowestStretch) {
        stretch -= 1;
        font.setStretch(stretch);
    }
    if (stretch != 100)
        control.setFont(font);
}

int captionRoom(const QPushButton &button)
{
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    return button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button).width();
}

} // namespace

MainWindow::MainWindow(PageLoader &documents, PageLoader &transfer, DesktopShell &shell,
                       QWidget *parent)
    : QMainWindow(parent)
    , shell(shell)
    , run({.documents = documents, .transfer = transfer}, *this)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Skarnel"));
    setWindowIcon(programIcon());
    setFont(windowFont());
    QPalette grey = palette();
    grey.setColor(QPalette::Window, LightGrey);
    setPalette(grey);
    setAutoFillBackground(true);

    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    createControls();
    createPanels();
    createMenus();
    setTabOrderByIndex();
    nameControls();
    fitCaptions();

    resize(pixelsFromTwips(7815), pixelsFromTwips(6105) + menuBar()->sizeHint().height());
    new RepaintPacer(this);
    // A cookie file that has gone since the settings took it leaves the command without cookies,
    // and the user told why.
    run.onNetworkWarning([this](const QString &why) {
        QMessageBox::warning(this, QStringLiteral("Options"), why);
    });
    load();
}

// The views go before the data they show.
MainWindow::~MainWindow()
{
    delete client;
}

// Children are created back to front, so the first ones lie beneath the later ones.
void MainWindow::createControls()
{
    Label1 = makeLabel(client, "Label1", QStringLiteral("Domain name:"),
                       rectFromTwips(120, 360, 1695, 255));
    lblTotal = makeLabel(client, "lblTotal", QStringLiteral("Total links: 0"),
                         rectFromTwips(240, 5640, 2295, 255));
    lblBroken = makeLabel(client, "lblBroken", QStringLiteral("Broken links: 0"),
                          rectFromTwips(2640, 5640, 2295, 255));
    lblInternal = makeLabel(client, "lblInternal", QStringLiteral("Internal links: 0"),
                            rectFromTwips(240, 5160, 2295, 255));
    lblExternal = makeLabel(client, "lblExternal", QStringLiteral("External links: 0"),
                            rectFromTwips(2640, 5160, 2295, 255));
    Label3 = makeLabel(client, "Label3", QStringLiteral("Internal links"),
                       rectFromTwips(480, 840, 1215, 255));
    Label4 = makeLabel(client, "Label4", QStringLiteral("External links"),
                       rectFromTwips(480, 3000, 1695, 255));
    lblCopyright = place(new ClickableLabel(QStringLiteral("By Veltrano"), client), "lblCopyright",
                         rectFromTwips(5280, 5640, 2415, 255));
    lblCopyright->setCursor(Qt::PointingHandCursor);

    cmdForceStop = makeButton(client, "cmdForceStop", QStringLiteral("Force Stop"),
                              rectFromTwips(1320, 1320, 975, 495));
    cmdForceStop->setEnabled(false);
    txtHTML = place(new MultiLineTextBox(client), "txtHTML", rectFromTwips(2280, 1560, 3135, 615));
    txtAddress =
            makeLineEdit(client, "txtAddress", MakersHomePage, rectFromTwips(1440, 360, 3375, 285));
    cmdCrawl = makeButton(client, "cmdCrawl", QStringLiteral("Crawl"),
                          rectFromTwips(4920, 360, 1335, 255));
    lstInternal = place(new ListBox(client), "lstInternal", rectFromTwips(120, 1080, 7575, 1815));
    lstExternal = place(new ListBox(client), "lstExternal", rectFromTwips(120, 3240, 7575, 1815));

    lstInternal->setList(site.internal);
    lstExternal->setList(site.external);
    internalCount = std::make_unique<LabelledCounter>(
            *lblInternal, QStringLiteral("Internal links: "), site.internalCount);
    externalCount = std::make_unique<LabelledCounter>(
            *lblExternal, QStringLiteral("External links: "), site.externalCount);
    brokenCount = std::make_unique<LabelledCounter>(*lblBroken, QStringLiteral("Broken links: "),
                                                    site.brokenCount);
    totalCount = std::make_unique<LabelledCounter>(*lblTotal, QStringLiteral("Total links: "),
                                                   site.totalCount);

    connect(cmdCrawl, &QPushButton::clicked, this, &MainWindow::crawl);
    connect(cmdForceStop, &QPushButton::clicked, this, &MainWindow::forceStop);
    connect(lblCopyright, &ClickableLabel::clicked, this, [this] { OpenURL(MakersHomePage); });
}

void MainWindow::createPanels()
{
    fraSettings = makePanel(client, "fraSettings", QStringLiteral("Settings"));
    Label2 = makeLabel(fraSettings, "Label2", QStringLiteral("Error messages on broken links"),
                       rectFromTwips(360, 480, 2895, 255));
    lstErrors = place(new ListBox(fraSettings), "lstErrors", rectFromTwips(360, 720, 3375, 1035));
    lstErrors->setList(site.errorTexts);
    cmdSettingsAdd = makeButton(fraSettings, "cmdSettingsAdd", QStringLiteral("Add"),
                                rectFromTwips(360, 1800, 975, 375));
    cmdSettingsRemove = makeButton(fraSettings, "cmdSettingsRemove", QStringLiteral("Remove"),
                                   rectFromTwips(1440, 1800, 975, 375));
    cmdSettingsDone = makeButton(fraSettings, "cmdSettingsDone", QStringLiteral("Done"),
                                 rectFromTwips(360, 4440, 1335, 375));

    fraLinksToPage = makePanel(client, "fraLinksToPage", QStringLiteral("Links to broken page"));
    Label6 = makeLabel(fraLinksToPage, "Label6",
                       QStringLiteral("Check which pages link to your broken link"),
                       rectFromTwips(480, 360, 6855, 495));
    Label6->setWordWrap(true);
    Label7 = makeLabel(fraLinksToPage, "Label7", QStringLiteral("Link:"),
                       rectFromTwips(480, 840, 3855, 255));
    txtBrokenLink = makeLineEdit(fraLinksToPage, "txtBrokenLink", QString(),
                                 rectFromTwips(960, 840, 4575, 285));
    cmdBrokenLinkCrawl =
            makeButton(fraLinksToPage, "cmdBrokenLinkCrawl", QStringLiteral("Find links"),
                       rectFromTwips(5640, 840, 1695, 375));
    txtLinksToPage = place(new MultiLineTextBox(fraLinksToPage), "txtLinksToPage",
                           rectFromTwips(120, 1320, 7335, 3495));
    connect(&site.referringPages, &LineLog::appended, txtLinksToPage,
            &MultiLineTextBox::appendLine);
    cmdLinksHide = makeButton(fraLinksToPage, "cmdLinksHide", QStringLiteral("Hide"),
                              rectFromTwips(6000, 240, 1215, 375));

    fraBroken = makePanel(client, "fraBroken", QStringLiteral("Broken links"));
    Label5 = makeLabel(fraBroken, "Label5", QStringLiteral("Broken links"),
                       rectFromTwips(480, 480, 2055, 255));
    txtBroken = place(new MultiLineTextBox(fraBroken), "txtBroken",
                      rectFromTwips(120, 720, 7335, 4095));
    connect(&site.brokenPages, &LineLog::appended, txtBroken, &MultiLineTextBox::appendLine);
    connect(&site.brokenPages, &LineLog::cleared, txtBroken, &MultiLineTextBox::clear);
    // Each line is a broken page; the mouse over it tells why the page counts as broken, and on
    // which pages the link was found.
    txtBroken->setLineToolTip([this](const QString &line) {
        const PageVerdict *verdict = site.results.find(line);
        if (!verdict || !verdict->broken)
            return QString();
        QString tip = verdict->reason;
        if (verdict->firstRedirect != RedirectKind::None)
            tip += QStringLiteral("\nRedirected %1 to %2")
                           .arg(verdict->firstRedirect == RedirectKind::Permanent
                                        ? QStringLiteral("permanently")
                                        : QStringLiteral("temporarily"),
                                verdict->finalAddress);
        if (const LinkOrigins::Origins *found = site.origins.find(line)) {
            constexpr qsizetype shown = 5;
            tip += QStringLiteral("\nFound on:");
            for (const QString &page : found->pages.first(std::min(shown, found->pages.size())))
                tip += QStringLiteral("\n") + page;
            if (const qint64 more = found->count - std::min<qint64>(shown, found->pages.size());
                more > 0)
                tip += QStringLiteral("\nand %1 more").arg(more);
        }
        return tip;
    });
    cmdCheckBroken = makeButton(fraBroken, "cmdCheckBroken", QStringLiteral("Check broken links"),
                                rectFromTwips(4920, 240, 2415, 375));
    cmdCheckBroken->setEnabled(false);
    cmdBrokenHide = makeButton(fraBroken, "cmdBrokenHide", QStringLiteral("Hide"),
                               rectFromTwips(3480, 240, 1335, 375));

    connect(cmdSettingsAdd, &QPushButton::clicked, this, &MainWindow::addErrorText);
    connect(cmdSettingsRemove, &QPushButton::clicked, this, &MainWindow::removeErrorText);
    connect(cmdBrokenLinkCrawl, &QPushButton::clicked, this, &MainWindow::findLinks);
    connect(cmdCheckBroken, &QPushButton::clicked, this, &MainWindow::checkBrokenLinks);
    for (QPushButton *hide : {cmdSettingsDone, cmdLinksHide, cmdBrokenHide})
        connect(hide, &QPushButton::clicked, this, &MainWindow::hideframes);
}

void MainWindow::createMenus()
{
    auto addMenu = [this](const char *name, const QString &title) {
        QMenu *menu = menuBar()->addMenu(title);
        menu->setObjectName(QLatin1String(name));
        return menu;
    };
    auto addEntry = [this](QMenu *menu, const char *name, const QString &caption, auto command) {
        QAction *entry = menu->addAction(caption);
        entry->setObjectName(QLatin1String(name));
        connect(entry, &QAction::triggered, this, command);
        return entry;
    };

    mnuFile = addMenu("mnuFile", QStringLiteral("File"));
    mnuNew = addEntry(mnuFile, "mnuNew", QStringLiteral("New"), &MainWindow::newSite);
    mnuSaveReport = addEntry(mnuFile, "mnuSaveReport", QStringLiteral("Save Report\u2026"),
                             &MainWindow::saveReportAs);
    mnuExit = addEntry(mnuFile, "mnuExit", QStringLiteral("Exit"), &MainWindow::exitProgram);
    mnuCrawlSetup = addMenu("mnuCrawlSetup", QStringLiteral("Crawl Setup"));
    mnuSettings = addEntry(mnuCrawlSetup, "mnuSettings", QStringLiteral("Settings"),
                           &MainWindow::showSettings);
    mnuForceStop = addEntry(mnuCrawlSetup, "mnuForceStop", QStringLiteral("Force Stop"),
                            &MainWindow::forceStop);
    mnuOptions = addEntry(mnuCrawlSetup, "mnuOptions", QStringLiteral("Options\u2026"),
                          &MainWindow::showOptions);
    mnuToos = addMenu("mnuToos", QStringLiteral("Tools"));
    mnuCrawl = addEntry(mnuToos, "mnuCrawl", QStringLiteral("Start Crawl"), &MainWindow::crawl);
    mnuCheckBroken = addEntry(mnuToos, "mnuCheckBroken", QStringLiteral("Check broken links"),
                              &MainWindow::showBrokenLinks);
    mnuLinksToPage = addEntry(mnuToos, "mnuLinksToPage", QStringLiteral("Links to page"),
                              &MainWindow::showLinksToPage);

    // The entries have no access keys or shortcuts. F10 opens the first menu with its first
    // entry chosen; from there the arrow keys reach every entry and Enter runs it. A lone Alt
    // press, where the style takes it, is the menu bar's own.
    new MenuKeys(*this, *menuBar());
}

// The keyboard visits the controls in the order of their tab indexes; labels and panels take
// no focus of their own.
void MainWindow::setTabOrderByIndex()
{
    const std::vector<std::pair<int, QWidget *>> order = {
            {1, txtAddress},       {2, cmdCrawl},        {3, lstInternal},
            {4, lstExternal},      {9, cmdForceStop},    {10, txtHTML},
            {12, lstErrors},       {14, cmdSettingsAdd}, {15, cmdSettingsRemove},
            {16, cmdSettingsDone}, {20, txtBroken},      {22, cmdCheckBroken},
            {23, cmdBrokenHide},   {27, txtBrokenLink},  {28, cmdBrokenLinkCrawl},
            {29, txtLinksToPage},  {30, cmdLinksHide},
    };
    Q_ASSERT(std::is_sorted(order.begin(), order.end()));
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1].second, order[i].second);
}

// Screen readers name each control by the label that stands before it, and the panels and
// buttons by their captions. The two text boxes without a label are named here.
void MainWindow::nameControls()
{
    Label1->setBuddy(txtAddress);
    Label3->setBuddy(lstInternal);
    Label4->setBuddy(lstExternal);
    Label2->setBuddy(lstErrors);
    Label5->setBuddy(txtBroken);
    Label7->setBuddy(txtBrokenLink);
    txtHTML->setAccessibleName(QStringLiteral("Page text"));
    txtLinksToPage->setAccessibleName(QStringLiteral("Pages that link to the address"));
}

// Fitted once, to the captions the controls start with: no other caption changes, and the
// counters' labels have room for far larger counts than they start with.
void MainWindow::fitCaptions()
{
    for (QPushButton *button : client->findChildren<QPushButton *>())
        condenseToFit(*button, button->text(), captionRoom(*button));
    for (QLabel *label : client->findChildren<QLabel *>()) {
        if (!label->wordWrap())
            condenseToFit(*label, label->text(), label->contentsRect().width());
    }
}

// Runs once, before the window is first shown.
void MainWindow::load()
{
    stop.clear();
    placePanels(*fraSettings, *fraBroken, *fraLinksToPage);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    applyResizeRule(*this, {*fraLinksToPage, *fraSettings, *fraBroken, *txtLinksToPage, *txtBroken,
                            *lstInternal, *lstExternal});
}

// The close box ends the program like Exit: whatever runs ends at its next stop test, and the
// window, hidden but not destroyed, is still there for it until then.
void MainWindow::closeEvent(QCloseEvent *event)
{
    stop.request();
    event->accept();
}

// A focus inside a panel goes back to the control that had it before the panel took it, when that
// can still take it; and before the panel hides, so that it does not pass on the way through the
// control that Qt would give it to.
void MainWindow::hideframes()
{
    QWidget *focus = QApplication::focusWidget();
    QWidget *previous = std::exchange(focusBeforePanel, nullptr);
    const bool focusInPanel =
            focus
            && (fraSettings->isAncestorOf(focus) || fraLinksToPage->isAncestorOf(focus)
                || fraBroken->isAncestorOf(focus));
    if (focusInPanel && previous && canTakeFocus(*previous))
        previous->setFocus(Qt::OtherFocusReason);
    fraSettings->hide();
    fraLinksToPage->hide();
    fraBroken->hide();
}

// A panel shown from its menu takes the focus, on its first control in tab order, and hiding it
// gives the focus back to the control that had it.
void MainWindow::showPanel(QGroupBox &panel)
{
    hideframes();
    QWidget *focus = QApplication::focusWidget();
    panel.show();
    // The tab order starts at the address box.
    for (QWidget *control = txtAddress->nextInFocusChain(); control != txtAddress;
         control = control->nextInFocusChain()) {
        if (panel.isAncestorOf(control) && canTakeFocus(*control)
            && (control->focusPolicy() & Qt::TabFocus)) {
            focusBeforePanel = focus;
            control->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void MainWindow::OpenURL(const QString &address)
{
    shell.openUrl(this, address);
}

QString MainWindow::startAddress() const
{
    return txtAddress->text();
}

QString MainWindow::searchedAddress() const
{
    return txtBrokenLink->text();
}

void MainWindow::setBusy(bool busy)
{
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void MainWindow::setCrawlEnabled(bool enabled)
{
    cmdCrawl->setEnabled(enabled);
    txtAddress->setEnabled(enabled);
}

void MainWindow::setForceStopEnabled(bool enabled)
{
    cmdForceStop->setEnabled(enabled);
}

void MainWindow::setCheckEnabled(bool enabled)
{
    cmdCheckBroken->setEnabled(enabled);
}

// A check shows hundreds of pages a second: the box takes the last of each frame, and the last
// of all when the check ends.
void MainWindow::showPageText(const QString &text)
{
    txtHTML->setPlainTextSoon(text);
}

void MainWindow::clearPageText()
{
    txtHTML->setPlainTextSoon(QString());
}

void MainWindow::progress(const QString &doing)
{
    showProgress(doing);
}

void MainWindow::showProgress(const QString &doing)
{
    setWindowTitle(QStringLiteral("Skarnel \u2013 ") + doing);
}

void MainWindow::endProgress()
{
    setWindowTitle(QStringLiteral("Skarnel"));
}

void MainWindow::crawl()
{
    // A folder that is not there, or a file that is not a page, is said at once.
    if (const std::optional<QString> error = run.startError()) {
        QMessageBox::warning(this, QStringLiteral("Crawl"),
                             error->at(0).toUpper() + error->sliced(1));
        return;
    }
    run.crawl();
    endProgress();
}

void MainWindow::forceStop()
{
    run.forceStop();
}

void MainWindow::checkBrokenLinks()
{
    run.check();
    txtHTML->applyPendingText();
    endProgress();
}

void MainWindow::findLinks()
{
    run.findLinks();
    endProgress();
}

// Add asks for a text in the toolkit's modal input box and appends what it returns as it stands;
// Cancel appends an empty text.
void MainWindow::addErrorText()
{
    const QString text =
            QInputDialog::getText(this, QStringLiteral("Broken link text"),
                                  QStringLiteral("What text would prove a broken link?"));
    run.addErrorText(text);
}

void MainWindow::removeErrorText()
{
    run.removeCurrentErrorText();
}

void MainWindow::showSettings()
{
    showPanel(*fraSettings);
}

// OK has checked the settings already; Cancel changes nothing.
void MainWindow::showOptions()
{
    OptionsDialog dialog(run.settings(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    run.setSettings(dialog.settings());
}

void MainWindow::showBrokenLinks()
{
    showPanel(*fraBroken);
}

void MainWindow::showLinksToPage()
{
    showPanel(*fraLinksToPage);
}

// New empties the lists and the page texts for another site. The counters start again from
// zero with them, so that the labels always match the lists.
void MainWindow::newSite()
{
    stop.request();
    site.clearSite();
    txtAddress->setText(QStringLiteral("http://www."));
    txtAddress->setEnabled(true);
    txtHTML->clear();
    cmdCrawl->setEnabled(true);
    cmdCheckBroken->setEnabled(false);
    cmdForceStop->setEnabled(false);
}

void MainWindow::exitProgram()
{
    stop.request();
    yieldToEventLoop();
    close();
}

Report MainWindow::report() const
{
    return run.report();
}

bool MainWindow::saveReport(const QString &path, QString *error) const
{
    return run.saveReport(path, std::nullopt, error);
}

// A name typed without a suffix is given ".csv", as the dialog's first filter has it; the name
// then picks the format as reportFormatForFile() says: .html and .htm, .json, .xml, any other CSV.
void MainWindow::saveReportAs()
{
    QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Save Report"),
            QDir::home().filePath(QStringLiteral("skarnel-report.csv")),
            QStringLiteral("CSV (*.csv);;Web page (*.html *.htm);;JSON (*.json);;JUnit XML "
                           "(*.xml);;All files (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    QString error;
    if (!saveReport(path, &error))
        QMessageBox::warning(this, QStringLiteral("Save Report"),
                             QStringLiteral("The report could not be saved to %1:\n%2")
                                     .arg(QDir::toNativeSeparators(path), error));
}

} // namespace skarnel
