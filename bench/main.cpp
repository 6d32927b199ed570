// skarnel_bench: the program's own window, network services and event loop, driven through its
// buttons over a generated site on loopback, timed against other tools fetching the same pages.
//
//   skarnel_bench --size P [--delay MS] [--links L] [--runs N] [--rich]
//                 [--anchors wget,curl,cli,cli_all] [--no-check] [--parse-cost] [--work DIR]
//   skarnel_bench --idle [--work DIR]
//   skarnel_bench --dead-hosts N [--work DIR]
//   skarnel_bench --tls --size P [--runs N] [--work DIR]   (see tls.h)
//
// Prints one "key=value" a line; bench/run gathers them into its table. Each size runs in a
// process of its own, so that peak memory is that size's. With --runs N the crawl and check run N
// times, each in a new window, and so does every other tool; times are the median of the runs,
// peak memory is that of the first run.
//
// With --parse-cost, each crawl is followed by the html library's own work on the same pages, on
// one thread, so that the crawl's CPU time can be set against what reading the links alone costs.
//
// With --rich the site's pages also hold images, a stylesheet and fragment links to anchors (see
// SiteShape), and the window runs with its resources and fragments switches on: the crawl lists
// the images and the stylesheet, the check asks for them with HEAD, and reads the anchors of each
// page that a fragment points into. The curl anchor then asks for the same resources with HEAD.
#include "site.h"
#include "siteserver.h"
#include "tls.h"
#include "tools.h"

#include <app/desktopshell.h>
#include <app/mainwindow.h>
#include <html/htmldecoding.h>
#include <html/htmllinks.h>
#include <net/httpclient.h>
#include <net/networkservices.h>
#include <report/report.h>
#include <widgets/listbox.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace skarnel;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Arguments
{
    int pages = 1000;
    int links = 50;
    int delayMs = 0;
    bool idle = false;
    int deadHosts = 0;
    bool check = true;
    bool parseCost = false;
    bool rich = false;
    bool tls = false;
    int runs = 1;
    std::vector<std::string> anchors;
    std::string work = "/tmp";
};

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: skarnel_bench --size PAGES [--delay MS] [--links N] [--runs N] "
                         "[--rich] [--anchors wget,curl,cli] [--no-check] [--parse-cost] "
                         "[--work DIR]\n"
                         "       skarnel_bench --idle [--work DIR]\n"
                         "       skarnel_bench --dead-hosts N [--work DIR]\n"
                         "       skarnel_bench --tls --size PAGES [--runs N] [--work DIR]\n");
    std::exit(2);
}

Arguments parse(int argc, char **argv)
{
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usage();
            return argv[++i];
        };
        if (arg == "--size")
            a.pages = std::stoi(value());
        else if (arg == "--links")
            a.links = std::stoi(value());
        else if (arg == "--delay")
            a.delayMs = std::stoi(value());
        else if (arg == "--idle")
            a.idle = true;
        else if (arg == "--dead-hosts")
            a.deadHosts = std::stoi(value());
        else if (arg == "--no-check")
            a.check = false;
        else if (arg == "--parse-cost")
            a.parseCost = true;
        else if (arg == "--rich")
            a.rich = true;
        else if (arg == "--tls")
            a.tls = true;
        else if (arg == "--work")
            a.work = value();
        else if (arg == "--runs")
            a.runs = std::stoi(value());
        else if (arg == "--anchors") {
            std::stringstream list(value());
            for (std::string name; std::getline(list, name, ',');)
                if (!name.empty())
                    a.anchors.push_back(name);
        } else
            usage();
    }
    if (a.pages < 1 || a.links < 6 || a.delayMs < 0 || a.runs < 1)
        usage();
    return a;
}

template<typename T>
void put(const char *key, T value)
{
    std::cout << key << '=' << value << '\n' << std::flush;
}

void putSeconds(const char *key, double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    put(key, text);
}

// Values of one figure over the runs; put as their median.
class Figures final
{
public:
    void note(const std::string &key, double value)
    {
        if (!values.count(key))
            order.push_back(key);
        values[key].push_back(value);
    }
    void put() const
    {
        for (const std::string &key : order) {
            std::vector<double> sorted = values.at(key);
            std::sort(sorted.begin(), sorted.end());
            putSeconds(key.c_str(), sorted[sorted.size() / 2]);
        }
    }

private:
    std::vector<std::string> order;
    std::map<std::string, std::vector<double>> values;
};

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of the calling thread alone.
double threadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Peak resident memory of this process, in MiB: VmHWM.
double peakResidentMb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return -1;
}

struct Sample
{
    Clock::time_point wall = Clock::now();
    double cpu = cpuSeconds();
};

struct Span
{
    double wall = 0;
    double cpu = 0;
};

Span between(const Sample &from, const Sample &to)
{
    return {std::chrono::duration<double>(to.wall - from.wall).count(), to.cpu - from.cpu};
}

// How late the window's event loop runs a timer: one is posted for 10 ms ahead, and whenever it
// fires, how far past its due time it ran is noted and the next one posted.
class UiDelayProbe final : public QObject
{
public:
    UiDelayProbe()
    {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] { fired(); });
    }
    void start()
    {
        worstMs = 0;
        lateOver50 = 0;
        samples = 0;
        running = true;
        arm();
    }
    void stop()
    {
        running = false;
        timer.stop();
    }
    double worst() const { return worstMs; }
    int over50() const { return lateOver50; }
    int count() const { return samples; }

private:
    void arm()
    {
        due = Clock::now() + 10ms;
        timer.start(10ms);
    }
    void fired()
    {
        const double late = std::chrono::duration<double, std::milli>(Clock::now() - due).count();
        worstMs = std::max(worstMs, late);
        lateOver50 += late > 50 ? 1 : 0;
        ++samples;
        if (running)
            arm();
    }

    QTimer timer;
    Clock::time_point due;
    double worstMs = 0;
    int lateOver50 = 0;
    int samples = 0;
    bool running = false;
};

class SilentShell final : public DesktopShell
{
public:
    bool openUrl(QWidget *, const QString &) override { return false; }
};

// The program as main() puts it together, with ways to reach the controls by their names.
struct Program
{
    explicit Program(HttpClient::Options options = {})
        : client(HttpClient::create(std::move(options)))
    {
    }

    std::shared_ptr<HttpClient> client;
    NetworkServices network {client};
    SilentShell shell;
    MainWindow window {network, network, shell};

    template<typename Control>
    Control *get(const char *name) const
    {
        auto *control = window.findChild<Control *>(QLatin1String(name));
        if (!control) {
            std::fprintf(stderr, "skarnel_bench: the window has no control named %s\n", name);
            std::exit(1);
        }
        return control;
    }
    long long counter(const char *label) const
    {
        const QString caption = get<QLabel>(label)->text();
        return caption.mid(caption.lastIndexOf(QLatin1Char(' ')) + 1).toLongLong();
    }
    QStringList entries(const char *list) const { return get<ListBox>(list)->entries(); }
};

// The CPU time that the html library alone spends on the pages a crawl of `site` loads: the
// start page and every internal page, byte for byte and with the Content-Type the servers send,
// each read once by readLinks() as the crawl reads it, and decoded once by decodeHtml() for a
// figure of decoding alone. Only this thread's time inside those calls counts; making the pages
// does not. The pages are made one at a time, so that the largest site adds no memory.
struct HtmlCost
{
    double readLinksCpu = 0;
    double decodeCpu = 0;
    long long pages = 0;
    long long links = 0;
};

HtmlCost htmlCost(const SiteShape &site)
{
    const QByteArray type = PageContentType;
    HtmlCost cost;
    for (int n = 0; n <= site.pages; ++n) {
        const QByteArray body =
                QByteArray::fromStdString(n == 0 ? startPage(site) : internalPage(site, n));
        const QUrl address(
                QString::fromStdString(site.internalOrigin + (n == 0 ? "/" : internalPagePath(n))));
        const double start = threadCpuSeconds();
        const QStringList links = readLinks(body, type, address);
        const double linksRead = threadCpuSeconds();
        const QString text = decodeHtml(body, type);
        const double decoded = threadCpuSeconds();
        cost.readLinksCpu += linksRead - start;
        cost.decodeCpu += decoded - linksRead;
        cost.links += links.size();
        cost.pages += text.isEmpty() ? 0 : 1;
    }
    return cost;
}

void putCounts(const char *prefix, const SiteServers::Counts &c)
{
    const std::string p = prefix;
    auto key = [&](const char *name) { return p + "_" + name; };
    put(key("requests").c_str(), c.requests);
    put(key("head_requests").c_str(), c.headRequests);
    put(key("pages_hit").c_str(), c.pagesHit);
    put(key("page_requests").c_str(), c.pageHits);
    put(key("deep_requests").c_str(), c.deepHits);
    put(key("external_requests").c_str(), c.externalHits);
    put(key("resource_requests").c_str(), c.resourceHits);
    put(key("other_requests").c_str(), c.otherHits);
    put(key("most_hits_one_page").c_str(), c.mostHitsOnePage);
}

std::string htmlEscaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string lastLines(const std::string &file, int count)
{
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::string out;
    for (std::size_t i = lines.size() > std::size_t(count) ? lines.size() - std::size_t(count) : 0;
         i < lines.size(); ++i)
        out += "    " + lines[i] + "\n";
    return out;
}

// What the check fetched: every listed address, and those of them it asked for with HEAD.
struct CheckedAddresses
{
    std::vector<std::string> all;
    std::vector<std::string> headOnly;
};

void runAnchors(const Arguments &a, SiteServers &servers, const CheckedAddresses &checked)
{
    const std::string work = a.work;
    for (const std::string &anchor : a.anchors) {
        const bool ours = anchor == "cli" || anchor == "cli_all";
        if (!ours && !toolInstalled(anchor)) {
            put((anchor + "_missing").c_str(), 1);
            continue;
        }
        std::vector<std::string> command;
        const std::string output = work + "/" + anchor + ".out";
        if (anchor == "wget") {
            // The crawl's two levels: the start page and the pages it links to, /deep left out.
            command = {"wget",
                       "--spider",
                       "-r",
                       "-l",
                       "2",
                       "-X",
                       "/deep",
                       "-nv",
                       "-e",
                       "robots=off",
                       servers.startAddress()};
        } else if (anchor == "curl") {
            // The check's fetches, one after the other, over kept-alive connections: GET for the
            // pages, then, after "next" (the same process and its connections, new options),
            // HEAD for the addresses the check asked for with HEAD.
            const std::string config = work + "/curl.config";
            std::ofstream file(config);
            const std::set<std::string> heads(checked.headOnly.begin(), checked.headOnly.end());
            for (const std::string &address : checked.all)
                if (!heads.count(address))
                    file << "url = \"" << address << "\"\noutput = \"/dev/null\"\n";
            if (!heads.empty()) {
                file << "next\nsilent\nhead\n";
                for (const std::string &address : checked.headOnly)
                    file << "url = \"" << address << "\"\noutput = \"/dev/null\"\n";
            }
            command = {"curl", "--silent", "--config", config};
        } else if (anchor == "cli") {
            // The program's own command line: the window's crawl and check, its report as CSV,
            // with settings of its own so that the error texts are the two it starts with.
            command = {"env",
                       "XDG_CONFIG_HOME=" + work + "/cli-config",
                       SKARNEL_PROGRAM,
                       "--check",
                       servers.startAddress(),
                       "--format",
                       "csv"};
        } else if (anchor == "cli_all") {
            // The same over the whole site, to the end: every level, each page loaded once.
            command = {"env",
                       "XDG_CONFIG_HOME=" + work + "/cli-config",
                       SKARNEL_PROGRAM,
                       "--check",
                       servers.startAddress(),
                       "--crawls",
                       "all",
                       "--format",
                       "csv"};
        } else {
            put((anchor + "_unknown").c_str(), 1);
            continue;
        }
        Figures figures;
        ToolRun run;
        SiteServers::Counts counts;
        for (int r = 0; r < a.runs; ++r) {
            servers.resetCounts();
            run = runTool(command, work, output, 900);
            counts = servers.counts();
            figures.note(anchor + "_wall_s", run.wallSeconds);
            figures.note(anchor + "_cpu_s", run.cpuSeconds);
        }
        figures.put();
        put((anchor + "_exit").c_str(), run.exitCode);
        put((anchor + "_peak_rss_mb").c_str(), run.peakRssMb);
        putCounts(anchor.c_str(), counts);
        // wget exits 8 when some page answered an error status; none of the pages it loads does.
        // The command line exits 1 when it finds broken links, as it does here.
        if (!run.started || (run.exitCode != 0 && !(ours && run.exitCode == 1)))
            std::cerr << anchor << " exited " << run.exitCode << ":\n" << lastLines(output, 5);
    }
}

void writeListPage(const std::string &file, const std::vector<std::string> &addresses)
{
    std::ofstream out(file);
    out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Addresses</title></head>"
           "<body><ul>\n";
    for (const std::string &address : addresses)
        out << "<li><a href=\"" << htmlEscaped(address) << "\">" << htmlEscaped(address)
            << "</a></li>\n";
    out << "</ul></body></html>\n";
}

void showWindow(Program &program)
{
    program.window.show();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

int runSize(const Arguments &a, SiteServers &servers)
{
    put("size", a.pages);
    put("delay_ms", a.delayMs);
    put("links_per_page", a.links);
    put("runs", a.runs);
    put("site", a.rich ? "rich" : "plain");

    Figures figures;
    CheckedAddresses checked;
    double peakMb = 0;
    for (int r = 0; r < a.runs; ++r) {
        // A new window each run; it and its connections go before the next run and the tools.
        Program program;
        if (a.rich) {
            CheckSettings settings;
            settings.resources = true;
            settings.fragments = true;
            program.window.setSettings(settings);
        }
        showWindow(program);
        UiDelayProbe probe;

        program.get<QLineEdit>("txtAddress")
                ->setText(QString::fromStdString(servers.startAddress()));
        servers.resetCounts();
        probe.start();
        const Sample crawlStart;
        program.get<QPushButton>("cmdCrawl")->click(); // returns when the crawl has ended
        const Sample crawlEnd;
        probe.stop();
        const Span crawl = between(crawlStart, crawlEnd);
        const SiteServers::Counts crawlCounts = servers.counts();
        const long long total = program.counter("lblTotal");
        figures.note("crawl_wall_s", crawl.wall);
        figures.note("crawl_cpu_s", crawl.cpu);
        figures.note("crawl_pages_per_s", crawlCounts.pagesHit / crawl.wall);
        figures.note("crawl_links_per_s", double(total) / crawl.wall);
        figures.note("crawl_ui_worst_ms", probe.worst());
        if (a.parseCost) {
            const HtmlCost cost = htmlCost(servers.shape());
            figures.note("parse_cpu_s", cost.readLinksCpu);
            figures.note("decode_cpu_s", cost.decodeCpu);
            figures.note("crawl_cpu_over_parse", crawl.cpu / cost.readLinksCpu);
            if (r + 1 == a.runs) {
                put("parse_pages", cost.pages);
                put("parse_links", cost.links);
            }
        }
        if (r + 1 == a.runs) {
            put("crawl_pages", crawlCounts.pagesHit);
            put("internal_links", program.counter("lblInternal"));
            put("external_links", program.counter("lblExternal"));
            put("total_links", total);
            put("crawl_ui_late_over_50ms", probe.over50());
            putCounts("crawl", crawlCounts);
        }

        checked = {};
        for (const QString &entry : program.entries("lstInternal"))
            checked.all.push_back(entry.toStdString());
        for (const QString &entry : program.entries("lstExternal"))
            checked.all.push_back(entry.toStdString());
        if (a.rich) {
            for (const ReportPage &page : program.window.report().pages)
                if (page.kind != AddressKind::Page)
                    checked.headOnly.push_back(page.address.toStdString());
        }

        if (a.check) {
            // Tools > Check broken links opens the panel; its button runs the check.
            program.get<QAction>("mnuCheckBroken")->trigger();
            QCoreApplication::processEvents();
            auto *checkButton = program.get<QPushButton>("cmdCheckBroken");
            if (!checkButton->isEnabled()) {
                std::fprintf(stderr, "skarnel_bench: the crawl left Check broken links disabled\n");
                return 1;
            }
            servers.resetCounts();
            probe.start();
            const Sample checkStart;
            checkButton->click();
            const Sample checkEnd;
            probe.stop();
            const Span check = between(checkStart, checkEnd);
            const SiteServers::Counts checkCounts = servers.counts();
            figures.note("check_wall_s", check.wall);
            figures.note("check_cpu_s", check.cpu);
            figures.note("check_fetches_per_s", double(checked.all.size()) / check.wall);
            figures.note("check_ui_worst_ms", probe.worst());
            if (r + 1 == a.runs) {
                put("check_fetches", checked.all.size());
                put("check_head_fetches", checked.headOnly.size());
                put("broken_links", program.counter("lblBroken"));
                put("check_ui_late_over_50ms", probe.over50());
                putCounts("check", checkCounts);
            }
        }
        if (r == 0)
            peakMb = peakResidentMb();
    }
    figures.put();
    putSeconds("peak_rss_mb", peakMb);

    writeListPage(a.work + "/list.html", checked.all);
    runAnchors(a, servers, checked);
    return 0;
}

// A crawl whose third page never answers: once the other pages are in, the crawl has nothing to
// do but wait, and what it spends meanwhile is what waiting costs.
int runIdle(SiteServers &servers)
{
    Program program;
    showWindow(program);
    program.get<QLineEdit>("txtAddress")->setText(QString::fromStdString(servers.startAddress()));

    std::optional<Sample> from;
    std::optional<Sample> to;
    bool stillCrawling = false;
    QTimer::singleShot(2s, Qt::PreciseTimer, [&] { from.emplace(); });
    QTimer::singleShot(12s, Qt::PreciseTimer, [&] {
        to.emplace();
        stillCrawling = !program.get<QPushButton>("cmdCrawl")->isEnabled()
                        || program.get<QPushButton>("cmdForceStop")->isEnabled();
        program.get<QPushButton>("cmdForceStop")->click();
    });
    program.get<QPushButton>("cmdCrawl")->click(); // returns once Force Stop has ended it
    if (!from || !to) {
        std::fprintf(stderr, "skarnel_bench: the crawl ended before the stalled page\n");
        return 1;
    }
    const Span idle = between(*from, *to);
    putSeconds("idle_wall_s", idle.wall);
    putSeconds("idle_cpu_s", idle.cpu);
    putSeconds("idle_cpu_pct", 100.0 * idle.cpu / idle.wall);
    put("idle_pages_hit", servers.counts().pagesHit);
    put("idle_still_crawling", stillCrawling ? 1 : 0);
    return 0;
}

// A check of addresses on hosts that do not resolve, as when the machine is offline: each must
// fail at once. The hosts are made not to resolve by the client's own option, so that the figure
// does not depend on how the machine's resolver answers.
int runDeadHosts(const Arguments &a, SiteServers &servers)
{
    std::vector<std::string> dead;
    for (int i = 0; i < a.deadHosts; ++i)
        dead.push_back("http://host-" + std::to_string(i % 50) + ".dead.test/page-"
                       + std::to_string(i) + ".html");
    writeListPage(a.work + "/list.html", dead);

    HttpClient::Options options;
    options.unresolvable = [](const QString &host) {
        return host.endsWith(QLatin1String(".dead.test"));
    };
    Program program(std::move(options));
    showWindow(program);
    program.get<QLineEdit>("txtAddress")
            ->setText(QString::fromStdString(servers.shape().internalOrigin + "/list.html"));
    program.get<QPushButton>("cmdCrawl")->click();
    program.get<QAction>("mnuCheckBroken")->trigger();
    const Sample checkStart;
    program.get<QPushButton>("cmdCheckBroken")->click();
    const Sample checkEnd;
    const Span check = between(checkStart, checkEnd);
    put("dead_hosts_addresses", program.counter("lblExternal"));
    put("dead_hosts_broken", program.counter("lblBroken"));
    putSeconds("dead_hosts_check_s", check.wall);
    putSeconds("dead_hosts_check_cpu_s", check.cpu);
    return 0;
}

// The offscreen platform says on every resize that it cannot pass size hints on; nothing else
// is kept from the benchmark's output.
void quietMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

int main(int argc, char **argv)
{
    const Arguments a = parse(argc, argv);
    if (a.tls)
        return runTlsRow(a.pages, a.runs, a.work);

    // The servers fork, so they start before any thread does.
    SiteServers::Options options;
    options.pages = a.idle || a.deadHosts > 0 ? 20 : a.pages;
    options.linksPerPage = a.links;
    options.delay = std::chrono::milliseconds(a.delayMs);
    options.stallPage = a.idle ? 3 : 0;
    options.listFile = a.work + "/list.html";
    options.rich = a.rich;
    SiteServers servers(options);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const std::string runtime = a.work + "/runtime";
        ::mkdir(runtime.c_str(), 0700);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime));
    }
    qInstallMessageHandler(quietMessages);
    QApplication app(argc, argv);
    if (a.deadHosts > 0)
        return runDeadHosts(a, servers);
    return a.idle ? runIdle(servers) : runSize(a, servers);
}
