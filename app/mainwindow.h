#pragma once

#include <walk/commandhost.h>
#include <widgets/labelledcounter.h>

#include <QMainWindow>
#include <QPointer>

#include <run/siterun.h>

#include <functional>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSettings;

namespace skarnel {

class ClickableLabel;
class DesktopShell;
class PageLoader;
class ListBox;
class MultiLineTextBox;

// The one window of the program. It owns every control and the run whose site data its lists, text
// boxes and counters show. Each command is a slot that hands the work to the run, with the window
// as the face it runs under.
//
// The long commands hand control back to the event loop while they work, so any command,
// Force Stop, New, Exit and a second crawl among them, can run to its end inside a running one.
// The stop flag is the only coordination between them.
class MainWindow final : public QMainWindow, private CommandHost
{
    Q_OBJECT

public:
    // The address that the copyright label opens and the address box holds at start.
    static const QString MakersHomePage;

    MainWindow(PageLoader &documents, PageLoader &transfer, DesktopShell &shell,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // What the window shows: the lists, the counts, the verdicts and where each link was found.
    const SiteModel &siteModel() const { return site; }
    // What the last check found for each page it fetched.
    const CheckResults &results() const { return site.results; }
    // The pages on which the crawls found each listed address.
    const LinkOrigins &origins() const { return site.origins; }

    // What the window shows now, with each page's verdict and the pages it was found on.
    Report report() const;
    // Writes report() to `path`, in the format its name asks for (reportFormatForFile()). On
    // failure returns false with the reason in `error`; nothing else changes.
    bool saveReport(const QString &path, QString *error = nullptr) const;

    // Shows the error texts that `store` keeps, when it keeps any, and keeps each change of the
    // list there from now on. Without a store nothing is kept. The store outlives the window.
    void keepErrorTexts(QSettings &store) { run.useKeptErrorTexts(store, true); }

    // The settings of Options…, which every command from now on runs with. Headers and password
    // live only as long as the window.
    const CheckSettings &settings() const { return run.settings(); }
    // Where the network takes its policy: before each crawl, check and search, the window hands
    // it the pace and the login of its settings for the start address it holds then. Without it
    // the network keeps its own.
    void useNetworkPolicy(std::function<void(const NetworkPolicy &)> apply)
    {
        run.useNetworkPolicy(std::move(apply));
    }
    void setSettings(const CheckSettings &settings) { run.setSettings(settings); }
    // Uses the settings that `store` keeps, the defaults when it keeps none, and keeps there what
    // may be kept of each change from Options… from now on. The store outlives the window.
    void keepSettings(QSettings &store) { run.keepSettings(store); }

    // Whether a stop is requested: from Force Stop, New or Exit until a command starts again.
    bool stopRequested() const { return stop.isRequested(); }

    // Whether the long commands load the pages of the next entries ahead (the default), or
    // each page only when they reach it. What the window shows is the same either way.
    void setLoadingAhead(bool enabled) { run.setLoadingAhead(enabled); }

    void hideframes();
    void OpenURL(const QString &address);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void crawl();
    void forceStop();
    void checkBrokenLinks();
    void findLinks();
    void addErrorText();
    void removeErrorText();
    void showSettings();
    void showOptions();
    void showBrokenLinks();
    void showLinksToPage();
    void newSite();
    void saveReportAs();
    void exitProgram();

private:
    void createControls();
    void createPanels();
    void createMenus();
    void setTabOrderByIndex();
    void nameControls();
    void fitCaptions();
    void load();
    void showPanel(QGroupBox &panel);

    // Shows in the title what a long command does, until endProgress().
    void showProgress(const QString &doing);
    void endProgress();

    // What the commands ask of the window.
    QString startAddress() const override;
    QString searchedAddress() const override;
    void setBusy(bool busy) override;
    void setCrawlEnabled(bool enabled) override;
    void setForceStopEnabled(bool enabled) override;
    void setCheckEnabled(bool enabled) override;
    void showPageText(const QString &text) override;
    void clearPageText() override;
    void progress(const QString &doing) override;

    DesktopShell &shell;

    SiteRun run;
    SiteModel &site = run.site();
    StopFlag &stop = run.stopFlag();
    // The control that had the focus when a panel took it, to have it back when the panel hides.
    QPointer<QWidget> focusBeforePanel;

    QWidget *client = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *lblTotal = nullptr;
    QLabel *lblBroken = nullptr;
    QLabel *lblInternal = nullptr;
    QLabel *lblExternal = nullptr;
    ClickableLabel *lblCopyright = nullptr;
    QPushButton *cmdForceStop = nullptr;
    MultiLineTextBox *txtHTML = nullptr;
    QLineEdit *txtAddress = nullptr;
    QPushButton *cmdCrawl = nullptr;
    ListBox *lstInternal = nullptr;
    ListBox *lstExternal = nullptr;

    QGroupBox *fraSettings = nullptr;
    QLabel *Label2 = nullptr;
    ListBox *lstErrors = nullptr;
    QPushButton *cmdSettingsAdd = nullptr;
    QPushButton *cmdSettingsRemove = nullptr;
    QPushButton *cmdSettingsDone = nullptr;

    QGroupBox *fraLinksToPage = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label7 = nullptr;
    QLineEdit *txtBrokenLink = nullptr;
    QPushButton *cmdBrokenLinkCrawl = nullptr;
    MultiLineTextBox *txtLinksToPage = nullptr;
    QPushButton *cmdLinksHide = nullptr;

    QGroupBox *fraBroken = nullptr;
    QLabel *Label5 = nullptr;
    MultiLineTextBox *txtBroken = nullptr;
    QPushButton *cmdCheckBroken = nullptr;
    QPushButton *cmdBrokenHide = nullptr;

    QMenu *mnuFile = nullptr;
    QAction *mnuNew = nullptr;
    QAction *mnuSaveReport = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuCrawlSetup = nullptr;
    QAction *mnuSettings = nullptr;
    QAction *mnuForceStop = nullptr;
    QAction *mnuOptions = nullptr;
    QMenu *mnuToos = nullptr;
    QAction *mnuCrawl = nullptr;
    QAction *mnuCheckBroken = nullptr;
    QAction *mnuLinksToPage = nullptr;

    // Created with their labels, in createControls().
    std::unique_ptr<LabelledCounter> internalCount;
    std::unique_ptr<LabelledCounter> externalCount;
    std::unique_ptr<LabelledCounter> brokenCount;
    std::unique_ptr<LabelledCounter> totalCount;
};

} // namespace skarnel
