#include "siterun.h"

#include <check/brokenlinkcheck.h>
#include <check/errortexts.h>
#include <check/fetchverdict.h>
#include <crawl/crawlrun.h>
#include <html/webaddress.h>
#include <net/pageload.h>
#include <referrers/referrersearch.h>
#include <walk/commandcontext.h>
#include <walk/commandhost.h>
#include <walk/eventloop.h>

#include <QDateTime>
#include <QDir>
#include <QSettings>

#include <run/robotsgate.h>
#include <run/sitemappages.h>

#include <memory>

namespace skarnel {

namespace {

// Why the start page cannot be loaded, judged by its answer alone: it failed, or it answered 400
// or above with a status the user does not accept.
std::optional<QString> startPageFailure(const PageLoad &load, const RunOptions &options)
{
    const PageVerdict verdict = answerVerdict(load);
    if (!verdict.broken
        || (verdict.httpStatus >= 400 && options.acceptedStatuses.contains(verdict.httpStatus)))
        return std::nullopt;
    return verdict.reason;
}

} // namespace

// The face, but for the start address, which is the one start() works out.
class SiteRun::StartHost final : public CommandHost
{
public:
    explicit StartHost(SiteRun &run)
        : run(run)
    {
    }

    QString startAddress() const override { return run.start().page; }
    QString siteAddress() const override { return run.start().site; }
    QString searchedAddress() const override { return run.host.searchedAddress(); }
    void setBusy(bool busy) override { run.host.setBusy(busy); }
    void setCrawlEnabled(bool enabled) override { run.host.setCrawlEnabled(enabled); }
    void setForceStopEnabled(bool enabled) override { run.host.setForceStopEnabled(enabled); }
    void setCheckEnabled(bool enabled) override { run.host.setCheckEnabled(enabled); }
    void showPageText(const QString &text) override { run.host.showPageText(text); }
    void clearPageText() override { run.host.clearPageText(); }
    void progress(const QString &doing) override { run.host.progress(doing); }

private:
    SiteRun &run;
};

SiteRun::SiteRun(const RunServices &services, CommandHost &host)
    : services(services)
    , host(host)
    , gate(std::make_unique<RobotsGate>(services.documents))
    , gatedDocuments(std::make_unique<GatedLoader>(*gate, services.documents, checkSettings.robots))
    , gatedTransfer(std::make_unique<GatedLoader>(*gate, services.transfer, checkSettings.robots))
    , documents(*gatedDocuments)
    , transfer(*gatedTransfer)
    , startHost(std::make_unique<StartHost>(*this))
{
    setSettings(checkSettings);
    fillInitialErrorTexts(data.errorTexts);
}

SiteRun::~SiteRun() = default;

void SiteRun::beginSite()
{
    if (checkSettings.sitemap.isEmpty())
        return;
    // A built folder's site ends at the folder, and its sitemap names its pages under the site's
    // address: the lists show them as its files.
    const Start &at = start();
    SitemapRun sitemaps {.site = data,
                         .start = at.folder ? at.site : withoutUserInfo(host.startAddress()),
                         .sitemap = checkSettings.sitemap,
                         .stopRequested = [this] { return stopped; }};
    if (at.folder)
        sitemaps.listed = [folder = *at.folder](const QString &address) {
            const QUrl url(address);
            return folder.contains(url) ? shownAddress(folder, url) : address;
        };
    runNotes = addSitemapPages(sitemaps, documents, *gate);
}

void SiteRun::setSettings(const CheckSettings &settings)
{
    checkSettings = settings;
    runOptions = runOptionsOf(settings);
    if (settingsStore)
        skarnel::keepSettings(checkSettings, *settingsStore);
}

void SiteRun::keepSettings(QSettings &store)
{
    settingsStore = nullptr;
    setSettings(loadSettings(store));
    settingsStore = &store;
}

void SiteRun::useErrorTexts(const QStringList &texts)
{
    data.errorTexts.clear();
    for (const QString &text : texts)
        data.errorTexts.append(text);
    keepErrorTexts();
}

void SiteRun::useKeptErrorTexts(QSettings &store, bool keepChanges)
{
    loadErrorTexts(data.errorTexts, store);
    errorTextStore = keepChanges ? &store : nullptr;
}

void SiteRun::addErrorText(const QString &text)
{
    data.errorTexts.append(text);
    keepErrorTexts();
}

void SiteRun::removeCurrentErrorText()
{
    skarnel::removeCurrentErrorText(data.errorTexts);
    keepErrorTexts();
}

void SiteRun::keepErrorTexts()
{
    if (errorTextStore)
        saveErrorTexts(data.errorTexts, *errorTextStore);
}

// Worked out again only when the face's start address or the site address has changed: the crawl
// asks for it at every link.
const SiteRun::Start &SiteRun::start()
{
    const QString typed = host.startAddress();
    if (typed == started.typed && checkSettings.siteUrl == started.siteUrl && !typed.isNull())
        return started;
    started = {.typed = typed,
               .siteUrl = checkSettings.siteUrl,
               .page = typed,
               .site = typed,
               .folder = std::nullopt,
               .error = {}};
    if (isFolderStart(typed, false)) {
        const FolderStart folder = checkFolderStart(typed, started.siteUrl, QDir::currentPath());
        if (folder.ok()) {
            started.folder.emplace(folder.root, folder.site);
            started.page = shownAddress(*started.folder, folder.start);
            started.site = shownAddress(*started.folder, started.folder->site());
        } else {
            started.error = folder.error;
        }
    }
    documents.setFolder(started.folder);
    transfer.setFolder(started.folder);
    return started;
}

std::optional<QString> SiteRun::startError()
{
    if (const QString &error = start().error; !error.isEmpty())
        return error;
    return std::nullopt;
}

CommandContext SiteRun::command()
{
    start();
    return {.site = data,
            .stop = stop,
            .host = *startHost,
            .loadAhead = loadAhead,
            .options = runOptions};
}

std::optional<QString> SiteRun::prepareNetwork()
{
    if (!services.useNetworkPolicy)
        return std::nullopt;
    const Checked<NetworkPolicy> policy = networkPolicyOf(checkSettings, host.startAddress());
    services.useNetworkPolicy(policy.value);
    if (!policy.ok())
        return policy.error;
    return std::nullopt;
}

void SiteRun::prepareNetworkOrWarn()
{
    if (const std::optional<QString> warning = prepareNetwork(); warning && networkWarning)
        networkWarning(*warning);
}

void SiteRun::crawl()
{
    // An address whose login makes it ambiguous is not asked for: wherever it went, its password
    // might go with it.
    if (!checkAddress(host.startAddress().trimmed()).ok())
        return;
    prepareNetworkOrWarn();
    if (data.internal.count() == 0 && data.external.count() == 0
        && !host.startAddress().trimmed().isEmpty()) {
        stopped = false;
        gate->forget();
        runNotes.clear();
        beginSite();
        if (!runNotes.isEmpty() && networkWarning)
            networkWarning(runNotes.join(QLatin1Char('\n')));
        // Force Stop while the sitemaps were read ends the crawl before it begins.
        if (stopped)
            return;
    }
    stopped = false;
    atPageLimit = false;
    const int levels = checkSettings.crawlLevels;
    if (levels == 1) {
        runCrawl(command(), documents);
        return;
    }
    // Beyond one level each page is loaded once in a press; a later press goes on from there.
    CommandContext once = command();
    once.options.askOnce = true;
    if (levels == CheckSettings::AllLevels) {
        once.options.wholeSite = true;
        atPageLimit = runCrawl(once, documents);
        return;
    }
    for (int i = 0; i < levels && !stopped; ++i)
        runCrawl(once, documents);
}

void SiteRun::check()
{
    // The window's check fetches every page afresh, as the user may check long after a crawl
    // that loaded each page once.
    data.heldAnswers.clear();
    prepareNetworkOrWarn();
    runBrokenLinkCheck(command(), transfer);
}

void SiteRun::findLinks()
{
    prepareNetworkOrWarn();
    findReferringPages(command(), documents);
}

void SiteRun::forceStop()
{
    stopped = true;
    skarnel::forceStop(command());
}

SiteRun::Outcome SiteRun::crawlAndCheck(int crawls)
{
    using End = Outcome::End;
    stopped = false;
    // The cookie file was read once when the settings were checked; a file that has gone since
    // ends the run before any request.
    if (std::optional<QString> error = prepareNetwork())
        return {End::BadPolicy, *error};

    CommandContext once = command();
    once.options.askOnce = true;
    gate->forget();
    runNotes.clear();
    std::unique_ptr<PageLoad> startPage = documents.load(
            start().page,
            {.mode = LoadMode::Page,
             .reading = {.resources = runOptions.resources, .anchors = runOptions.fragments},
             .waitOutBusy = true});
    while (!startPage->isDone() && !stopped)
        sleepUntilNextEvent();
    if (!startPage->isDone())
        return {End::Stopped, {}};
    if (startPage->keptOut())
        return {End::Disallowed, startPage->failureReason()};
    if (std::optional<QString> failure = startPageFailure(*startPage, runOptions))
        return {End::NotLoaded, *failure};
    beginSite();
    if (!runNotes.isEmpty() && networkWarning)
        networkWarning(runNotes.join(QLatin1Char('\n')));

    // The start page's answer is the first crawl's first page.
    atPageLimit = false;
    if (crawls == CheckSettings::AllLevels) {
        once.options.wholeSite = true;
        atPageLimit = runCrawl(once, documents, std::move(startPage));
    }
    for (int i = 0; i < crawls && !stopped; ++i)
        runCrawl(once, documents, std::move(startPage));
    if (!stopped)
        runBrokenLinkCheck(once, transfer);
    return {stopped ? End::Stopped : End::Done, {}};
}

QStringList SiteRun::notes() const
{
    QStringList said;
    if (checkSettings.insecure)
        said.append(
                QStringLiteral("certificates of %1 not verified")
                        .arg(Origin::of(QUrl(host.startAddress(), QUrl::TolerantMode)).toString()));
    if (atPageLimit)
        said.append(QStringLiteral("stopped at the limit of %1 pages").arg(runOptions.pageLimit));
    return said + runNotes;
}

Report SiteRun::report() const
{
    // A built folder's start as its file:// address, as the lists show its pages.
    const QString typed = host.startAddress();
    const QString shown = typed == started.typed && started.folder ? started.page : typed;
    Report made = buildReport(data, withoutUserInfo(shown), QDateTime::currentDateTime());
    made.notes = notes();
    return made;
}

bool SiteRun::saveReport(const QString &path, std::optional<ReportFormat> format,
                         QString *error) const
{
    return writeReport(report(), format.value_or(reportFormatForFile(path)), path, error);
}

} // namespace skarnel
