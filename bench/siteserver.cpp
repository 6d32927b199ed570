#include "siteserver.h"

#include <httplib.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int ExternalPages = 200;
constexpr auto LongestStall = 5min;
constexpr unsigned ServerLifetimeSeconds = 30 * 60;

// The number in "/prefix/N.html", or -1.
int numberIn(std::string_view path, std::string_view prefix)
{
    constexpr std::string_view suffix = ".html";
    if (!path.starts_with(prefix) || !path.ends_with(suffix))
        return -1;
    const std::string_view digits =
            path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    int number = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size() ? number : -1;
}

void writeAll(int fd, const void *data, std::size_t size)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written <= 0)
            std::_Exit(3);
        bytes += written;
        size -= std::size_t(written);
    }
}

bool readAll(int fd, void *data, std::size_t size)
{
    char *bytes = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got <= 0)
            return false;
        bytes += got;
        size -= std::size_t(got);
    }
    return true;
}

} // namespace

// Counters in memory shared by both processes; the arrays follow the header.
struct SiteServers::Shared
{
    std::atomic<int> requests;
    std::atomic<int> headRequests;
    std::atomic<int> deepHits;
    std::atomic<int> externalHits;
    std::atomic<int> resourceHits;
    std::atomic<int> otherHits;
    int pages = 0;

    // Follows the header: hits()[0] counts the start page, hits()[N] internal page N.
    std::atomic<int> *hits() { return reinterpret_cast<std::atomic<int> *>(this + 1); }
    static std::size_t sizeFor(int pages)
    {
        return sizeof(Shared) + sizeof(std::atomic<int>) * (std::size_t(pages) + 1);
    }
};

namespace {

class ServerProcess final
{
public:
    ServerProcess(const SiteServers::Options &options, std::atomic<int> *requests,
                  std::atomic<int> *heads, std::atomic<int> *deep, std::atomic<int> *external,
                  std::atomic<int> *resources, std::atomic<int> *other, std::atomic<int> *pageHits)
        : options(options)
        , requests(requests)
        , heads(heads)
        , deep(deep)
        , external(external)
        , resources(resources)
        , other(other)
        , pageHits(pageHits)
    {
        for (httplib::Server *server : {&internalServer, &externalServer}) {
            // Every connection kept alive holds a thread: the window's two connection managers,
            // then LinkChecker's ten threads, must never wait for one.
            server->new_task_queue = [] { return new httplib::ThreadPool(64); };
            server->set_tcp_nodelay(true);
            server->set_keep_alive_max_count(1000000);
            server->set_keep_alive_timeout(5);
            // Pages go out uncompressed whatever Accept-Encoding says, so that every client
            // compared reads the same bytes and the server spends no time compressing.
            server->set_pre_routing_handler(
                    [](const httplib::Request &request, httplib::Response &) {
                        const_cast<httplib::Request &>(request).headers.erase("Accept-Encoding");
                        return httplib::Server::HandlerResponse::Unhandled;
                    });
        }
        internalServer.Get(".*", [this](const httplib::Request &q, httplib::Response &r) {
            answerInternal(q, r);
        });
        externalServer.Get(".*", [this](const httplib::Request &q, httplib::Response &r) {
            answerExternal(q, r);
        });
    }

    // Binds both servers; returns their ports.
    std::pair<int, int> bind()
    {
        return {internalServer.bind_to_any_port("127.0.0.1"),
                externalServer.bind_to_any_port("127.0.0.2")};
    }

    void build(const SiteShape &shape)
    {
        site = shape;
        start = startPage(site);
        pages.reserve(std::size_t(site.pages) + 1);
        pages.emplace_back();
        for (int n = 1; n <= site.pages; ++n)
            pages.push_back(internalPage(site, n));
        for (int n = 0; n < site.deepPages; ++n)
            deepPages.push_back(deepPage(site, n));
        for (int n = 0; n < site.externalPages; ++n)
            externalPages.push_back(externalPage(site, n));
    }

    void serveUntilEof(int control)
    {
        std::thread first([this] { internalServer.listen_after_bind(); });
        std::thread second([this] { externalServer.listen_after_bind(); });
        char byte = 0;
        while (::read(control, &byte, 1) > 0) { }
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        stopped.notify_all();
        internalServer.stop();
        externalServer.stop();
        first.join();
        second.join();
    }

private:
    void count(const httplib::Request &request, httplib::Response &response)
    {
        // LinkChecker keeps to ten requests a second on a host unless the host says, with this
        // header, that it may be checked faster.
        response.set_header("LinkChecker", "fast");
        requests->fetch_add(1, std::memory_order_relaxed);
        if (request.method == "HEAD")
            heads->fetch_add(1, std::memory_order_relaxed);
        if (options.delay.count() > 0)
            std::this_thread::sleep_for(options.delay);
    }

    void answerInternal(const httplib::Request &request, httplib::Response &response)
    {
        count(request, response);
        const std::string_view path = request.path;
        constexpr const char *html = PageContentType;
        if (path == "/") {
            pageHits[0].fetch_add(1, std::memory_order_relaxed);
            response.set_content(start, html);
        } else if (const int n = numberIn(path, "/page/"); n >= 1 && n <= site.pages) {
            pageHits[n].fetch_add(1, std::memory_order_relaxed);
            if (n == options.stallPage) {
                std::unique_lock lock(mutex);
                stopped.wait_for(lock, LongestStall, [this] { return stopping; });
                response.status = 503;
                return;
            }
            response.set_content(pages[std::size_t(n)], html);
        } else if (const int d = numberIn(path, "/deep/"); d >= 0 && d < site.deepPages) {
            deep->fetch_add(1, std::memory_order_relaxed);
            response.status = deepPages[std::size_t(d)].status;
            response.set_content(deepPages[std::size_t(d)].body, html);
        } else if (std::optional<SiteResource> found = resource(site, path)) {
            // HEAD is answered by this same handler: the server sends the headers alone.
            resources->fetch_add(1, std::memory_order_relaxed);
            response.status = found->status;
            response.set_content(std::move(found->body), found->contentType);
        } else if (path == "/list.html" && !options.listFile.empty()) {
            other->fetch_add(1, std::memory_order_relaxed);
            std::ifstream file(options.listFile, std::ios::binary);
            std::ostringstream text;
            text << file.rdbuf();
            response.set_content(text.str(), html);
        } else {
            other->fetch_add(1, std::memory_order_relaxed);
            response.status = 404;
            response.set_content("<!DOCTYPE html><title>Not found</title><h1>Not found</h1>", html);
        }
    }

    void answerExternal(const httplib::Request &request, httplib::Response &response)
    {
        count(request, response);
        if (const int e = numberIn(request.path, "/ext/"); e >= 0 && e < site.externalPages) {
            external->fetch_add(1, std::memory_order_relaxed);
            response.status = externalPages[std::size_t(e)].status;
            response.set_content(externalPages[std::size_t(e)].body, PageContentType);
        } else {
            other->fetch_add(1, std::memory_order_relaxed);
            response.status = 404;
        }
    }

    SiteServers::Options options;
    std::atomic<int> *requests;
    std::atomic<int> *heads;
    std::atomic<int> *deep;
    std::atomic<int> *external;
    std::atomic<int> *resources;
    std::atomic<int> *other;
    std::atomic<int> *pageHits;

    SiteShape site;
    std::string start;
    std::vector<std::string> pages;
    std::vector<SitePage> deepPages;
    std::vector<SitePage> externalPages;

    httplib::Server internalServer;
    httplib::Server externalServer;
    std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
};

} // namespace

SiteServers::SiteServers(const Options &options)
{
    sharedSize = Shared::sizeFor(options.pages);
    void *memory =
            ::mmap(nullptr, sharedSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        throw std::runtime_error("mmap failed");
    shared = new (memory) Shared {};
    shared->pages = options.pages;
    for (int i = 0; i <= options.pages; ++i)
        new (&shared->hits()[i]) std::atomic<int>(0);

    int ports[2] = {-1, -1};
    int portPipe[2];
    int controlPipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(controlPipe) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t parent = ::getpid();
    child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            std::_Exit(0);
        ::alarm(ServerLifetimeSeconds);
        std::signal(SIGPIPE, SIG_IGN);
        ::close(portPipe[0]);
        ::close(controlPipe[1]);
        ServerProcess process(options, &shared->requests, &shared->headRequests, &shared->deepHits,
                              &shared->externalHits, &shared->resourceHits, &shared->otherHits,
                              shared->hits());
        const auto [internalPort, externalPort] = process.bind();
        SiteShape shape;
        shape.pages = options.pages;
        shape.linksPerPage = options.linksPerPage;
        shape.deepPages = options.pages;
        shape.externalPages = ExternalPages;
        shape.rich = options.rich;
        shape.internalOrigin = "http://127.0.0.1:" + std::to_string(internalPort);
        shape.externalOrigin = "http://127.0.0.2:" + std::to_string(externalPort);
        process.build(shape);
        const int bound[2] = {internalPort, externalPort};
        writeAll(portPipe[1], bound, sizeof bound);
        ::close(portPipe[1]);
        process.serveUntilEof(controlPipe[0]);
        std::_Exit(0);
    }
    ::close(portPipe[1]);
    ::close(controlPipe[0]);
    control = controlPipe[1];
    const bool started = readAll(portPipe[0], ports, sizeof ports);
    ::close(portPipe[0]);
    if (!started || ports[0] <= 0 || ports[1] <= 0)
        throw std::runtime_error("the site servers did not start");
    site.pages = options.pages;
    site.linksPerPage = options.linksPerPage;
    site.deepPages = options.pages;
    site.externalPages = ExternalPages;
    site.rich = options.rich;
    site.internalOrigin = "http://127.0.0.1:" + std::to_string(ports[0]);
    site.externalOrigin = "http://127.0.0.2:" + std::to_string(ports[1]);
}

SiteServers::~SiteServers()
{
    if (control >= 0)
        ::close(control);
    if (child > 0) {
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    if (shared)
        ::munmap(shared, sharedSize);
}

SiteServers::Counts SiteServers::counts() const
{
    Counts c;
    c.requests = shared->requests.load();
    c.headRequests = shared->headRequests.load();
    c.deepHits = shared->deepHits.load();
    c.externalHits = shared->externalHits.load();
    c.resourceHits = shared->resourceHits.load();
    c.otherHits = shared->otherHits.load();
    c.startHits = shared->hits()[0].load();
    for (int i = 0; i <= shared->pages; ++i) {
        const int hits = shared->hits()[i].load();
        c.pageHits += hits;
        c.pagesHit += hits > 0 ? 1 : 0;
        c.mostHitsOnePage = std::max(c.mostHitsOnePage, hits);
    }
    return c;
}

void SiteServers::resetCounts()
{
    for (std::atomic<int> *counter :
         {&shared->requests, &shared->headRequests, &shared->deepHits, &shared->externalHits,
          &shared->resourceHits, &shared->otherHits})
        counter->store(0);
    for (int i = 0; i <= shared->pages; ++i)
        shared->hits()[i].store(0);
}
