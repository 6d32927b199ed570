#pragma once

#include <net/folderpageload.h>
#include <report/report.h>
#include <walk/runoptions.h>
#include <walk/stopflag.h>

#include <QString>
#include <QStringList>

#include <run/checksettings.h>
#include <site/sitemodel.h>

#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace skarnel {

class CommandHost;
class PageLoader;
class RobotsGate;
struct CommandContext;

// The network a run works through, as the program builds it.
struct RunServices
{
    // Where the crawl and the search load pages, and where the check fetches them.
    PageLoader &documents;
    PageLoader &transfer;
    // Given the run's network policy (its pace, and the headers, login and cookies for the start
    // address's host) before each command's first request. Null: the network keeps its own.
    std::function<void(const NetworkPolicy &)> useNetworkPolicy = nullptr;
};

// What a run of the program is, whichever face drives it: the site's data, the stop flag, the
// settings (switches, network policy, error texts), the start-page test, the crawls, the check,
// the search, and the report with any login stripped from the start address. The window and the
// command line both drive one; they differ only in what a face does: the window shows the data and
// asks in dialogs, the command line parses, prints and answers signals.
class SiteRun final
{
public:
    // `host` is the face the commands run under; it and the services outlive the run. The error
    // texts start as the two the program starts with, "404" and "page not found".
    SiteRun(const RunServices &services, CommandHost &host);
    ~SiteRun();
    SiteRun(const SiteRun &) = delete;
    SiteRun &operator=(const SiteRun &) = delete;

    SiteModel &site() { return data; }
    const SiteModel &site() const { return data; }
    StopFlag &stopFlag() { return stop; }

    const CheckSettings &settings() const { return checkSettings; }
    // The settings every command runs with from now on; kept in the store keepSettings() gave,
    // all but the secrets.
    void setSettings(const CheckSettings &settings);
    // Uses the settings `store` keeps (the defaults for those it keeps none of or out of range)
    // and keeps each later change there. The store outlives the run.
    void keepSettings(QSettings &store);
    // Where the network takes its policy from now on; null: the network keeps its own.
    void useNetworkPolicy(std::function<void(const NetworkPolicy &)> apply)
    {
        services.useNetworkPolicy = std::move(apply);
    }
    // Whether the commands load the pages of the next entries ahead (the default).
    void setLoadingAhead(bool enabled) { loadAhead = enabled; }

    // These texts in place of those held, for this run only.
    void useErrorTexts(const QStringList &texts);
    // The texts `store` keeps, when it keeps any, in place of those held. With `keepChanges`, each
    // later change of the list is kept there; the store then outlives the run.
    void useKeptErrorTexts(QSettings &store, bool keepChanges);
    void addErrorText(const QString &text);
    void removeCurrentErrorText();

    // Told, before a command's first request, why the cookie file could not be read; the command
    // then runs without cookies. The command line never gets there: crawlAndCheck() ends first.
    // Also told, once a crawl has read the sitemaps, the lines of notes() that it added.
    void onNetworkWarning(std::function<void(const QString &)> warn)
    {
        networkWarning = std::move(warn);
    }

    // What is wrong with the start address the face holds when it names a built folder (a path or a
    // file:// address): no such folder, a file that is not HTML; nothing for a web address.
    std::optional<QString> startError();

    // The window's commands: Crawl, Check broken links, Find links and Force Stop.
    void crawl();
    void check();
    void findLinks();
    void forceStop();

    // How crawlAndCheck() ended.
    struct Outcome
    {
        enum class End {
            Done,      // the check ran to its end
            Stopped,   // a stop was requested: the data holds what was found so far
            NotLoaded, // the start page cannot be loaded; nothing was crawled
            BadPolicy, // the network policy cannot be made (a cookie file gone since it was read)
            // robots.txt is kept to and forbids the start page; nothing was crawled
            Disallowed,
        };
        End end = End::Done;
        // Why, for NotLoaded and BadPolicy, in the user's words; never a login.
        QString reason;
    };
    // The command line's run: the start page loaded and judged by its answer alone (it fails, or
    // answers 400 or above with a status not accepted; its text is not searched for the error
    // texts), then `crawls` crawls, each a level deeper, then the check. A stop requested at any
    // point ends it there. It asks for each address once: the start page's answer is the crawl's
    // first page, a later crawl loads no page again, and the check judges a page the crawl read
    // whole by that answer.
    //
    // `crawls` CheckSettings::AllLevels crawls the whole site in one crawl, each page loaded once,
    // up to the settings' most pages (CheckSettings::maxPages).
    Outcome crawlAndCheck(int crawls);

    // What the run says of itself besides its pages, in the user's words: "certificates of ORIGIN
    // not verified" when the start's origin is not verified, "stopped at the limit of N pages"
    // when the last crawl of the whole site stopped there, each sitemap that could not be read and
    // the sitemap addresses that are not of this site (a crawl of an empty site starts those
    // afresh). The report holds them too.
    QStringList notes() const;
    // Whether the last crawl of the whole site stopped at the limit of pages.
    bool stoppedAtLimit() const { return atPageLimit; }

    // What the run has found: each listed address with its verdict and the pages it was found
    // on, under the start address without its login.
    Report report() const;
    // Writes report() to the file at `path`, whole or not at all, in `format`, or by default in
    // the format its name asks for (reportFormatForFile()): one rule for both faces. On failure
    // returns false with the reason in `error`.
    bool saveReport(const QString &path, std::optional<ReportFormat> format = std::nullopt,
                    QString *error = nullptr) const;

private:
    // The start as the commands take it. A web address is used as the face holds it. A built
    // folder (a path or a file:// address) starts at the file:// address of its start page, the
    // site ends at the folder's, and the loads read the folder's files.
    struct Start
    {
        // What the face held, and the site address, when this was worked out.
        QString typed;
        QString siteUrl;
        QString page;
        QString site;
        std::optional<BuiltFolder> folder;
        QString error;
    };
    class StartHost;
    const Start &start();

    CommandContext command();
    // Hands the network its policy for the start address held now; why the cookie file could not
    // be read, when it could not.
    std::optional<QString> prepareNetwork();
    void prepareNetworkOrWarn();
    void keepErrorTexts();
    // A crawl of a site not yet crawled: the sitemaps' pages join the internal list, and notes()
    // tell what could not be read.
    void beginSite();

    RunServices services;
    CommandHost &host;
    // robots.txt of every origin, read once a run, and the services' loaders through it while it
    // is kept to.
    std::unique_ptr<RobotsGate> gate;
    std::unique_ptr<PageLoader> gatedDocuments;
    std::unique_ptr<PageLoader> gatedTransfer;
    // The loaders of the commands: a built folder's files when the start is one, the rest through
    // the gate above.
    FolderLoader documents;
    FolderLoader transfer;
    Start started;
    // The face as the commands see it: its start address worked out by start().
    std::unique_ptr<StartHost> startHost;
    SiteModel data;
    StopFlag stop;
    CheckSettings checkSettings;
    // checkSettings as the commands take them, compiled once for each change.
    RunOptions runOptions;
    bool loadAhead = true;
    // Force Stop was given since crawlAndCheck() began: the commands clear the stop flag as they
    // start, so the run as a whole keeps its own note.
    bool stopped = false;
    bool atPageLimit = false;
    QSettings *settingsStore = nullptr;
    QSettings *errorTextStore = nullptr;
    std::function<void(const QString &)> networkWarning;
    QStringList runNotes;
};

} // namespace skarnel
