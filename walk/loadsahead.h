#pragma once

#include "stopflag.h"

#include <net/networkpolicy.h>

#include <QHash>
#include <QString>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace skarnel {

// How far a list walk loads ahead, whatever it loads: the one place for these limits.
struct AheadLimits
{
    static constexpr int PerHost = DefaultPerHost; // loads held for one host
    static constexpr int Total = 16; // loads held in all, in flight or waiting to be taken
    // Looking further ahead than the loads it may hold finds other hosts to load from while one
    // host has all its connections busy.
    static constexpr qsizetype LookAhead = 64;
};

// What a list walk asks of its loads ahead at each entry, whatever they load.
class LoadingAhead
{
public:
    // The walk's top-up at each entry: loads ahead the upcoming addresses, or, once a stop is
    // requested, abandons everything held.
    virtual void topUp(const std::vector<QString> &upcoming) = 0;

protected:
    ~LoadingAhead() = default;
};

// Pages loading ahead of a list walk: while the walk works on one entry, the pages of the next
// entries are already on their way, a bounded number at once, and the walk takes each one when
// it reaches its entry. Results are still consumed in list order, one at a time, so what the
// window shows is what a walk that loads one page after the other would show.
//
// `Load` is a page load, and `start` begins one from the loader the walk is to use;
// destroying one abandons it and closes its connection. Once a stop is requested nothing more is
// started and what is held is abandoned; disabled, every page is loaded only when the walk asks
// for it.
template<typename Load>
class LoadsAhead final : public LoadingAhead
{
public:
    using Start = std::function<std::unique_ptr<Load>(const QString &address)>;

    // `perHost` loads are held for one host at most, AheadLimits::PerHost unless the network
    // allows more requests to a host at once.
    LoadsAhead(Start start, const StopFlag &stop, bool enabled, int perHost = AheadLimits::PerHost)
        : start(std::move(start))
        , stop(stop)
        , enabled(enabled)
        , perHost(std::max(perHost, 1))
        , total(std::max(AheadLimits::Total, this->perHost))
    {
    }

    void topUp(const std::vector<QString> &upcoming) override
    {
        if (stop.isRequested())
            abandonAll();
        else if (enabled)
            fill(upcoming);
    }

    // The load of `address`: the one held for it, or one started now.
    std::unique_ptr<Load> takeOrStart(const QString &address)
    {
        if (stop.isRequested())
            abandonAll();
        if (std::unique_ptr<Load> load = take(address))
            return load;
        return start(address);
    }

    // Starts loads for the upcoming addresses, in their order, as far as the limits allow. An
    // address already held is not loaded twice; one for which `start` gives no load is passed.
    void fill(const std::vector<QString> &upcoming)
    {
        for (const QString &address : upcoming) {
            if (int(held.size()) >= total)
                return;
            if (isHeld(address))
                continue;
            const QString host = hostOf(address);
            if (heldFor(host) >= perHost)
                continue;
            if (std::unique_ptr<Load> load = start(address))
                held.push_back({address, host, std::move(load)});
        }
    }

    // The held load of `address`, or null when none is held.
    std::unique_ptr<Load> take(const QString &address)
    {
        for (auto it = held.begin(); it != held.end(); ++it) {
            if (it->address == address) {
                std::unique_ptr<Load> load = std::move(it->load);
                held.erase(it);
                return load;
            }
        }
        return nullptr;
    }

    void abandonAll() { held.clear(); }

private:
    struct Held
    {
        QString address;
        QString host;
        std::unique_ptr<Load> load;
    };

    // A walk looks at the same upcoming addresses again at every entry, and parsing one costs
    // more than the rest of the look, so the hosts are remembered for a while.
    QString hostOf(const QString &address)
    {
        if (const auto found = hosts.constFind(address); found != hosts.cend())
            return *found;
        if (hosts.size() >= RememberedHosts)
            hosts.clear();
        const QUrl url(address);
        return *hosts.insert(address, url.scheme() + QLatin1String("://") + url.host()
                                              + QLatin1Char(':') + QString::number(url.port()));
    }

    bool isHeld(const QString &address) const
    {
        return std::any_of(held.begin(), held.end(),
                           [&](const Held &h) { return h.address == address; });
    }

    // A load held and not yet taken may still be in flight: each counts as a connection.
    int heldFor(const QString &host) const
    {
        return int(std::count_if(held.begin(), held.end(),
                                 [&](const Held &h) { return h.host == host; }));
    }

    static constexpr qsizetype RememberedHosts = 4096;

    Start start;
    const StopFlag &stop;
    bool enabled = true;
    int perHost = AheadLimits::PerHost;
    int total = AheadLimits::Total;
    std::vector<Held> held;
    QHash<QString, QString> hosts; // address -> its host
};

} // namespace skarnel
