#pragma once

#include <net/pageload.h>

#include <QHash>
#include <QString>

#include <robots/robotstxt.h>

#include <memory>

namespace skarnel {

// Keeps the walks out of what robots.txt forbids. Each origin's /robots.txt is read once (its
// first robotsReadCap bytes) through the loader the gate was made with, the first time an address
// of that origin is asked for; loads of that origin wait for it in the event loop as for their own
// answer. Then an allowed address is loaded as asked; a forbidden one is not asked for at all: its
// load ends at once, kept out (PageLoad::keptOut()), "disallowed by robots.txt"; an address of an
// origin whose robots.txt could not be asked (the host is not found, refuses connections) fails
// with that reason, without a request. An origin's Crawl-delay becomes its host's least pause.
class RobotsGate final
{
public:
    // Reads robots.txt through `reader`, which outlives the gate and its loads.
    explicit RobotsGate(PageLoader &reader);
    ~RobotsGate();
    RobotsGate(const RobotsGate &) = delete;
    RobotsGate &operator=(const RobotsGate &) = delete;

    // Loads `address` from `loader` once robots.txt allows it.
    std::unique_ptr<PageLoad> load(PageLoader &loader, const QString &address,
                                   const LoadRequest &request);
    // Another run: every robots.txt is read again, and the pauses they set are lifted.
    void forget();

    // The rules of `address`'s origin once read; null while they are being read (reading is
    // begun when it has not been).
    const RobotsTxt *rulesFor(const QString &address);

    struct Origin;

private:
    std::shared_ptr<Origin> originOf(const QString &address);

    PageLoader &reader;
    QHash<QString, std::shared_ptr<Origin>> origins;
};

// A PageLoader whose loads pass through a gate.
class GatedLoader final : public PageLoader
{
public:
    // Loads through `gate` while `kept` holds, straight from `loader` otherwise; `kept` is read
    // at every load and outlives the loader.
    GatedLoader(RobotsGate &gate, PageLoader &loader, const bool &kept)
        : gate(gate)
        , loader(loader)
        , kept(kept)
    {
    }
    std::unique_ptr<PageLoad> load(const QString &address, const LoadRequest &request) override
    {
        return kept ? gate.load(loader, address, request) : loader.load(address, request);
    }
    void startRun() override { loader.startRun(); }
    void setLeastPause(const QString &host, std::chrono::milliseconds pause) override
    {
        loader.setLeastPause(host, pause);
    }

private:
    RobotsGate &gate;
    PageLoader &loader;
    const bool &kept;
};

} // namespace skarnel
