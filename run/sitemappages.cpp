#include "sitemappages.h"

#include "robotsgate.h"

#include <crawl/linkfilter.h>
#include <net/pageload.h>
#include <walk/eventloop.h>

#include <QUrl>

#include <run/checksettings.h>
#include <site/sitemodel.h>
#include <sitemap/sitemapreader.h>

#include <memory>
#include <utility>
#include <vector>

namespace skarnel {

namespace {

// The addresses not of this site that a sitemap's lines name one by one; the rest are counted.
constexpr int namedForeign = 10;

struct Pending
{
    QString address;
    bool namedByIndex = false;
};

// The sitemaps `wanted` names: the address itself, or for "auto" those the start origin's
// robots.txt names, else its /sitemap.xml. Empty when a stop came first.
QStringList firstSitemaps(const SitemapRun &run, RobotsGate &gate)
{
    if (run.sitemap != sitemapAuto)
        return {run.sitemap};
    const RobotsTxt *rules = nullptr;
    while (!(rules = gate.rulesFor(run.start)) && !run.stopRequested())
        sleepUntilNextEvent();
    if (rules && !rules->sitemaps().isEmpty())
        return rules->sitemaps();
    const QUrl start(run.start);
    return {start.resolved(QUrl(QStringLiteral("/sitemap.xml"))).toString(QUrl::FullyEncoded)};
}

void recordPage(SiteModel &site, const QString &address, const QString &sitemap)
{
    site.origins.note(address, sitemap);
    if (site.internal.contains(address))
        return;
    site.internal.append(address);
    site.internalCount.add();
    site.totalCount.add();
}

} // namespace

QStringList addSitemapPages(const SitemapRun &run, PageLoader &loader, RobotsGate &gate)
{
    QStringList notes;
    std::vector<Pending> queue;
    for (const QString &address : firstSitemaps(run, gate))
        queue.push_back({address, false});
    SitemapCount count;
    const SitemapLimits limits;
    for (std::size_t next = 0; next < queue.size() && !run.stopRequested(); ++next) {
        const Pending sitemap = queue[next];
        if (!count.take()) {
            notes.append(sitemapErrorLine(sitemap.address,
                                          QStringLiteral("not read: a run reads at most %1 "
                                                         "sitemaps")
                                                  .arg(sitemapsPerRun)));
            break;
        }
        // The reader takes the body as it arrives and stops the download once it has stopped,
        // so that no sitemap is held whole. One byte more than the protocol allows tells a
        // sitemap too large from one that fits.
        SitemapReader reader(sitemap.address, sitemap.namedByIndex, limits);
        const PageLoad *reading = nullptr;
        bool streamed = false;
        LoadRequest request {
                .mode = LoadMode::Bytes, .waitOutBusy = true, .bodyCap = limits.bytes + 1};
        request.onBody = [&](QByteArrayView piece) {
            streamed = true;
            // The body of an error, or of an answer asked for again, is not the sitemap.
            const int status = reading ? reading->httpStatus() : 0;
            return status < 200 || status > 299 || reader.feed(piece);
        };
        const std::unique_ptr<PageLoad> load = loader.load(sitemap.address, request);
        reading = load.get();
        while (!load->isDone() && !run.stopRequested())
            sleepUntilNextEvent();
        if (!load->isDone())
            break;
        if (load->failed() || load->keptOut()) {
            notes.append(sitemapErrorLine(sitemap.address, load->failureReason().isEmpty()
                                                                   ? QStringLiteral("not read")
                                                                   : load->failureReason()));
            continue;
        }
        if (load->httpStatus() >= 400) {
            notes.append(sitemapErrorLine(sitemap.address,
                                          QStringLiteral("HTTP %1").arg(load->httpStatus())));
            continue;
        }
        if (load->outcome() == LoadOutcome::Capped) {
            notes.append(sitemapErrorLine(
                    sitemap.address, QStringLiteral("larger than %1 bytes").arg(limits.bytes)));
            continue;
        }
        // A loader that cannot stream gives the body whole.
        if (!streamed)
            reader.feed(load->body());
        if (!reader.stopped())
            reader.finish();
        if (!reader.error().isEmpty())
            notes.append(reader.error());
        if (reader.kind() == SitemapReader::Kind::Index) {
            for (const QString &named : reader.addresses())
                queue.push_back({named, true});
            continue;
        }
        qsizetype foreign = 0;
        for (const QString &address : reader.addresses()) {
            // A file:// address written in a sitemap is never of the site, even a built folder's.
            const QString page =
                    run.listed && !QUrl(address).isLocalFile() ? run.listed(address) : address;
            if (passesLinkFilter(page, bool(run.listed))
                && classifyLink(page, run.start) == LinkKind::Internal
                && !QUrl(address).isLocalFile()) {
                recordPage(run.site, page, sitemap.address);
            } else if (++foreign <= namedForeign) {
                notes.append(sitemapErrorLine(
                        sitemap.address, QStringLiteral("%1 is not of this site").arg(address)));
            }
        }
        if (foreign > namedForeign)
            notes.append(sitemapErrorLine(sitemap.address,
                                          QStringLiteral("%1 more addresses are not of this site")
                                                  .arg(foreign - namedForeign)));
    }
    return notes;
}

} // namespace skarnel
