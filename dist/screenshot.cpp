// skarnel_screenshot OUTPUT.png: the picture of the window in the README.
//
// Serves a small sample site on 127.0.0.1 (a start page, a dozen pages under it, one link to a
// page that is not there) with its external links on a second server on 127.0.0.2, crawls it in
// the real window over the real network services, and saves the window as it then looks. Run it
// with QT_QPA_PLATFORM=offscreen to need no display; scripts/screenshot does.
#include <app/desktopshell.h>
#include <app/mainwindow.h>
#include <net/networkservices.h>

#include <QApplication>
#include <QLineEdit>
#include <QMap>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <httplib.h>

#include <cstdio>
#include <thread>

using namespace skarnel;

namespace {

// The port both servers try first, so that the address in the picture stays the same from one
// run to the next; any free port does when it is taken.
constexpr int PreferredPort = 8080;
// A crawl of the sample site takes well under a second; past this it is stopped.
constexpr int CrawlLimitMs = 60'000;

// Serves fixed pages from a thread of its own until destroyed; other paths answer 404.
class SampleServer final
{
public:
    SampleServer(const char *host, QMap<QString, QByteArray> pages)
        : host(host)
        , pages(std::move(pages))
    {
        server.Get(".*", [this](const httplib::Request &request, httplib::Response &response) {
            const auto page = this->pages.constFind(QString::fromStdString(request.path));
            if (page == this->pages.cend()) {
                response.status = 404;
                response.set_content(
                        "<!doctype html><title>Not found</title><h1>404 Not Found</h1>",
                        "text/html; charset=utf-8");
                return;
            }
            response.set_content(page->toStdString(), "text/html; charset=utf-8");
        });
        port = server.bind_to_port(host, PreferredPort) ? PreferredPort
                                                        : server.bind_to_any_port(host);
        if (port > 0)
            thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~SampleServer()
    {
        server.stop();
        if (thread.joinable())
            thread.join();
    }
    SampleServer(const SampleServer &) = delete;
    SampleServer &operator=(const SampleServer &) = delete;

    bool listening() const { return port > 0; }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://%1:%2%3").arg(QLatin1String(host)).arg(port).arg(path);
    }

private:
    const char *host = nullptr;
    QMap<QString, QByteArray> pages;
    httplib::Server server;
    int port = -1;
    std::thread thread;
};

QByteArray page(const QString &title, const QStringList &hrefs)
{
    QByteArray html = "<!doctype html><html><head><meta charset=\"utf-8\"><title>" + title.toUtf8()
                      + "</title></head><body><h1>" + title.toUtf8() + "</h1><ul>";
    for (const QString &href : hrefs)
        html += "<li><a href=\"" + href.toUtf8() + "\">" + href.toUtf8() + "</a></li>";
    return html + "</ul></body></html>";
}

QMap<QString, QByteArray> externalSite()
{
    QMap<QString, QByteArray> pages;
    for (const char *path : {"/partners.html", "/news/2024.html", "/directory/web-tools.html"})
        pages.insert(QLatin1String(path), page(QStringLiteral("Elsewhere"), {}));
    return pages;
}

// The start page links to every section; the sections link among themselves, to a few pages
// one level further down, to the other server and, once, to a page that is not there.
QMap<QString, QByteArray> sampleSite(const SampleServer &other)
{
    const QString partners = other.url(QStringLiteral("/partners.html"));
    const QString news = other.url(QStringLiteral("/news/2024.html"));
    const QString directory = other.url(QStringLiteral("/directory/web-tools.html"));
    QMap<QString, QByteArray> pages;
    pages.insert("/", page("Example Garden Supplies",
                           {"/about.html", "/products.html", "/products/seeds.html",
                            "/products/tools.html", "/services.html", "/pricing.html",
                            "/blog/index.html", "/blog/spring-planting.html",
                            "/blog/composting.html", "/docs/getting-started.html", "/docs/faq.html",
                            "/contact.html", "/old-offers.html", partners}));
    pages.insert("/about.html", page("About us", {"/team.html", "/contact.html", partners}));
    pages.insert("/products.html",
                 page("Products", {"/products/seeds.html", "/products/tools.html"}));
    pages.insert("/products/seeds.html", page("Seeds", {"/products.html", "/pricing.html"}));
    pages.insert("/products/tools.html", page("Tools", {"/products.html", directory}));
    pages.insert("/services.html", page("Services", {"/pricing.html", "/old-offers.html"}));
    pages.insert("/pricing.html", page("Pricing", {"/contact.html"}));
    pages.insert("/blog/index.html",
                 page("Blog", {"/blog/spring-planting.html", "/blog/composting.html"}));
    pages.insert("/blog/spring-planting.html",
                 page("Spring planting", {"/products/seeds.html", news}));
    pages.insert("/blog/composting.html", page("Composting", {"/products/tools.html"}));
    pages.insert("/docs/getting-started.html", page("Getting started", {"/docs/faq.html"}));
    pages.insert("/docs/faq.html", page("Questions", {"/contact.html"}));
    pages.insert("/contact.html", page("Contact", {"/about.html"}));
    pages.insert("/team.html", page("Our team", {"/about.html"}));
    return pages;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: skarnel_screenshot OUTPUT.png\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);

    SampleServer other("127.0.0.2", externalSite());
    if (!other.listening()) {
        std::fprintf(stderr, "skarnel_screenshot: cannot listen on 127.0.0.2\n");
        return 1;
    }
    SampleServer site("127.0.0.1", sampleSite(other));
    if (!site.listening()) {
        std::fprintf(stderr, "skarnel_screenshot: cannot listen on 127.0.0.1\n");
        return 1;
    }

    NetworkServices network;
    SystemShell shell;
    MainWindow window(network, network, shell);
    window.show();

    bool stopped = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &window, [&] {
        stopped = true;
        window.findChild<QPushButton *>(QStringLiteral("cmdForceStop"))->click();
    });
    limit.start(CrawlLimitMs);

    // The crawl runs to its end inside the click.
    window.findChild<QLineEdit *>(QStringLiteral("txtAddress"))
            ->setText(site.url(QStringLiteral("/")));
    window.findChild<QPushButton *>(QStringLiteral("cmdCrawl"))->click();
    limit.stop();
    if (stopped) {
        std::fprintf(stderr, "skarnel_screenshot: the crawl did not finish in time\n");
        return 1;
    }

    // Let the window draw its last changes before it is grabbed.
    QCoreApplication::processEvents();
    if (!window.grab().save(output, "PNG")) {
        std::fprintf(stderr, "skarnel_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
