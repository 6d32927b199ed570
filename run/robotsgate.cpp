#include "robotsgate.h"

#include <QUrl>

#include <optional>

namespace skarnel {

struct RobotsGate::Origin
{
    Origin(PageLoader &reader, QString host)
        : reader(reader)
        , host(std::move(host))
    {
    }

    PageLoader &reader;
    QString host;
    std::unique_ptr<PageLoad> reading;
    std::optional<RobotsTxt> rules;
    // The host waits the Crawl-delay between its requests.
    bool paced = false;

    // The rules, once the reading has ended; begins nothing. With `pace`, the host waits the
    // Crawl-delay from now on.
    const RobotsTxt *settle(bool pace)
    {
        if (!rules && (!reading || !reading->isDone()))
            return nullptr;
        if (!rules)
            read();
        if (pace && !paced && rules->crawlDelay().count() > 0)
            reader.setLeastPause(host, rules->crawlDelay());
        paced = paced || pace;
        return &*rules;
    }

    void read()
    {
        RobotsAnswer answer;
        const LoadOutcome outcome = reading->outcome();
        answer.timedOut = outcome == LoadOutcome::TimedOut;
        // A fetch that failed after a redirect (too many of them) had an answer: a 3xx.
        if (outcome == LoadOutcome::Failed && reading->httpStatus() == 0)
            answer.failure = reading->failureReason().isEmpty() ? QStringLiteral("could not be "
                                                                                 "fetched")
                                                                : reading->failureReason();
        else
            answer.status = reading->httpStatus();
        answer.body = reading->body();
        reading.reset();
        rules = RobotsTxt::fromAnswer(answer);
    }
};

namespace {

// Redirects followed to an origin's robots.txt at most.
constexpr int robotsRedirects = 5;

// A load that waits for its origin's robots.txt, then either loads its address or ends kept out.
class GatedLoad final : public PageLoad
{
public:
    GatedLoad(std::shared_ptr<RobotsGate::Origin> origin, PageLoader &loader, QString address,
              const LoadRequest &request)
        : origin(std::move(origin))
        , loader(loader)
        , address(std::move(address))
        , request(request)
    {
        advance();
    }

    bool isDone() const override
    {
        advance();
        return inner ? inner->isDone() : access != RobotsTxt::Access::Allowed;
    }
    LoadOutcome outcome() const override
    {
        if (!isDone())
            return LoadOutcome::Running;
        return inner ? inner->outcome() : LoadOutcome::Failed;
    }
    bool failed() const override { return inner ? inner->failed() : isDone(); }
    QString text() const override { return inner ? inner->text() : QString(); }
    int httpStatus() const override { return inner ? inner->httpStatus() : 0; }
    QString statusText() const override { return inner ? inner->statusText() : QString(); }
    QString failureReason() const override
    {
        if (inner)
            return inner->failureReason();
        return isDone() ? reason : QString();
    }
    QString finalAddress() const override { return inner ? inner->finalAddress() : address; }
    RedirectKind redirectKind() const override
    {
        return inner ? inner->redirectKind() : RedirectKind::None;
    }
    QList<FoundLink> foundLinks() const override
    {
        return inner ? inner->foundLinks() : QList<FoundLink>();
    }
    std::optional<QStringList> anchors() const override
    {
        return inner ? inner->anchors() : std::nullopt;
    }
    QByteArray body() const override { return inner ? inner->body() : QByteArray(); }
    bool keptOut() const override
    {
        return !inner && isDone() && access == RobotsTxt::Access::Disallowed;
    }

private:
    // Once the rules are known: the load begins, or the verdict is kept. The loads make progress
    // only when asked, in the event loop, as the contract of a load has it.
    void advance() const
    {
        if (inner || decided)
            return;
        const RobotsTxt *rules = origin->settle(true);
        if (!rules)
            return;
        decided = true;
        access = rules->access(QUrl(address));
        if (access == RobotsTxt::Access::Allowed)
            inner = loader.load(address, request);
        else
            reason = rules->reason(access);
    }

    std::shared_ptr<RobotsGate::Origin> origin;
    PageLoader &loader;
    QString address;
    LoadRequest request;
    mutable bool decided = false;
    mutable RobotsTxt::Access access = RobotsTxt::Access::Allowed;
    mutable QString reason;
    mutable std::unique_ptr<PageLoad> inner;
};

// The origin of an http or https address, as robots.txt is read for it; empty for any other.
QString originKey(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    return url
            .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery
                      | QUrl::RemoveFragment)
            .toString(QUrl::FullyEncoded);
}

} // namespace

RobotsGate::RobotsGate(PageLoader &reader)
    : reader(reader)
{
}

RobotsGate::~RobotsGate() = default;

std::shared_ptr<RobotsGate::Origin> RobotsGate::originOf(const QString &address)
{
    const QUrl url(address);
    const QString key = originKey(url);
    if (key.isEmpty())
        return nullptr;
    std::shared_ptr<Origin> &origin = origins[key];
    if (!origin) {
        origin = std::make_shared<Origin>(reader, url.host());
        origin->reading =
                reader.load(key + QStringLiteral("/robots.txt"), {.mode = LoadMode::Bytes,
                                                                  .waitOutBusy = true,
                                                                  .bodyCap = robotsReadCap,
                                                                  .redirectCap = robotsRedirects});
    }
    return origin;
}

std::unique_ptr<PageLoad> RobotsGate::load(PageLoader &loader, const QString &address,
                                           const LoadRequest &request)
{
    std::shared_ptr<Origin> origin = originOf(address);
    // An address of no origin (not http or https, malformed) fails in the loader as it would.
    if (!origin)
        return loader.load(address, request);
    return std::make_unique<GatedLoad>(std::move(origin), loader, address, request);
}

const RobotsTxt *RobotsGate::rulesFor(const QString &address)
{
    const std::shared_ptr<Origin> origin = originOf(address);
    return origin ? origin->settle(false) : nullptr;
}

void RobotsGate::forget()
{
    for (const std::shared_ptr<Origin> &origin : std::as_const(origins))
        if (origin->paced && origin->rules && origin->rules->crawlDelay().count() > 0)
            reader.setLeastPause(origin->host, std::chrono::milliseconds(0));
    origins.clear();
}

} // namespace skarnel
