#pragma once

#include "site.h"

#include <sys/types.h>

#include <chrono>
#include <string>

// The two loopback servers of the benchmark's site, in a process of their own so that the
// benchmark's CPU time and peak memory are the program's alone: 127.0.0.1 serves the start page,
// the internal pages, the /deep pages, the rich site's images and stylesheet and /list.html (read
// from `listFile` at each request);
// 127.0.0.2 serves the /ext pages. Both keep connections alive, send pages uncompressed whatever
// the client asks (every client compared downloads the same bytes), and answer after `delay`.
//
// Internal page `stallPage` (0: none) never answers: its handler holds the connection without a
// byte until the servers stop, or for five minutes at most.
//
// Construct it before any thread is started: it forks. The server process ends when this object
// is destroyed, when the benchmark process dies, or after half an hour, whichever comes first.
class SiteServers final
{
public:
    struct Options
    {
        int pages = 1000;
        int linksPerPage = 50;
        std::chrono::milliseconds delay {0};
        int stallPage = 0;
        std::string listFile;
        bool rich = false; // the site with images, a stylesheet and fragments, see SiteShape
    };

    // What the servers were asked, counted since the last resetCounts().
    struct Counts
    {
        int requests = 0; // all, on both servers
        int headRequests = 0;
        int startHits = 0; // "/"
        int pagesHit = 0;  // distinct internal pages, the start page among them
        int pageHits = 0;  // requests for internal pages, the start page among them
        int deepHits = 0;
        int externalHits = 0;
        int resourceHits = 0; // images and the stylesheet
        int otherHits = 0;    // anything else, /list.html and /robots.txt among them
        int mostHitsOnePage = 0;
    };

    explicit SiteServers(const Options &options);
    ~SiteServers();
    SiteServers(const SiteServers &) = delete;
    SiteServers &operator=(const SiteServers &) = delete;

    const SiteShape &shape() const { return site; }
    std::string startAddress() const { return site.internalOrigin + "/"; }
    Counts counts() const;
    void resetCounts();

private:
    struct Shared;

    SiteShape site;
    Shared *shared = nullptr;
    std::size_t sharedSize = 0;
    pid_t child = -1;
    int control = -1; // closing it ends the server process
};
