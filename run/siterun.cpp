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

SiteRun::SiteRun(const RunServices &services, CommandHost &host)
    : services(services)
    , host(host)
    , gate(std::make_unique<RobotsGate>(services.documents))
    , gatedDocuments(std::make_unique<GatedLoader>(*gate, services.documents))
    , gatedTransfer(std::make_unique<GatedLoader>(*gate, services.transfer))
{
    setSettings(checkSettings);
    fillInitialErrorTexts(data.errorTexts);
}

SiteRun::~SiteRun() = default;

PageLoader &SiteRun::documents()
{
    return checkSettings.robots ? *gatedDocuments : services.documents;
}

PageLoader &SiteRun::transfer()
{
    return checkSettings.robots ? *gatedTransfer : services.transfer;
}

void SiteRun::beginSite()
{
    if (checkSettings.sitemap.isEmpty())
        return;
    const SitemapRun sitemaps {.site = data,
                               .start = withoutUserInfo(host.startAddress()),
                               .sitemap = checkSettings.sitemap,
                               .stopRequested = [this] { return stopped; }};
    runNotes = addSitemapPages(sitemaps, documents(), *gate);
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

CommandContext SiteRun::command()
{
    return {.site = data,
            .stop = stop,
            .host = host,
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
    runCrawl(command(), documents());
}

void SiteRun::check()
{
    prepareNetworkOrWarn();
    runBrokenLinkCheck(command(), transfer());
}

void SiteRun::findLinks()
{
    prepareNetworkOrWarn();
    findReferringPages(command(), documents());
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
    const QString start = host.startAddress();
    gate->forget();
    runNotes.clear();
    std::unique_ptr<PageLoad> startPage = documents().load(
            start, {.mode = LoadMode::Page,
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
    for (int i = 0; i < crawls && !stopped; ++i)
        runCrawl(once, documents(), std::move(startPage));
    if (!stopped)
        runBrokenLinkCheck(once, transfer());
    return {stopped ? End::Stopped : End::Done, {}};
}

Report SiteRun::report() const
{
    Report built =
            buildReport(data, withoutUserInfo(host.startAddress()), QDateTime::currentDateTime());
    built.notes = runNotes;
    return built;
}

bool SiteRun::saveReport(const QString &path, std::optional<ReportFormat> format,
                         QString *error) const
{
    return writeReport(report(), format.value_or(reportFormatForFile(path)), path, error);
}

} // namespace skarnel
