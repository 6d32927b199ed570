#include "commandline.h"

#include <check/brokenlinkcheck.h>
#include <check/errortexts.h>
#include <check/fetchverdict.h>
#include <crawl/crawlrun.h>
#include <html/webaddress.h>
#include <net/pageload.h>
#include <report/report.h>
#include <walk/commandcontext.h>
#include <walk/commandhost.h>
#include <walk/eventloop.h>
#include <walk/stopflag.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIODevice>
#include <QSocketNotifier>

#include <fcntl.h>
#include <site/sitemodel.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <optional>

namespace skarnel {

namespace {

const QStringList OurOptions = {QStringLiteral("check"),     QStringLiteral("format"),
                                QStringLiteral("output"),    QStringLiteral("error-text"),
                                QStringLiteral("crawls"),    QStringLiteral("resources"),
                                QStringLiteral("fragments"), QStringLiteral("strict-redirects"),
                                QStringLiteral("header"),    QStringLiteral("user"),
                                QStringLiteral("cookies"),   QStringLiteral("per-host"),
                                QStringLiteral("pause"),     QStringLiteral("retry-cap"),
                                QStringLiteral("accept"),    QStringLiteral("exclude"),
                                QStringLiteral("no-crawl"),  QStringLiteral("help"),
                                QStringLiteral("h"),         QStringLiteral("version"),
                                QStringLiteral("v")};

// The longest password read from the terminal.
constexpr int LongestPassword = 4096;

// More crawls than this would go deeper than any site a check is meant for.
constexpr int MostCrawls = 100;

struct Options
{
    QString start;
    ReportFormat format = ReportFormat::Text;
    QString output;
    std::optional<QStringList> errorTexts;
    int crawls = 1;
    CheckSettings settings;
};

void put(QIODevice &device, const QString &text)
{
    device.write(text.toUtf8());
}

// SIGINT and SIGTERM, while it lives, write to a pipe that the event loop watches: a handler
// may do nothing else safely. The first signal resets its handler, so a second one ends the
// process even if the run no longer answers.
class InterruptWatch final
{
public:
    explicit InterruptWatch(std::function<void()> onInterrupt)
    {
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        writeFd = fds[1];
        notifier.emplace(fds[0], QSocketNotifier::Read);
        QObject::connect(&*notifier, &QSocketNotifier::activated, [this, onInterrupt] {
            char drained[16];
            while (::read(fds[0], drained, sizeof drained) > 0) { }
            onInterrupt();
        });
        struct sigaction action = {};
        action.sa_handler = &InterruptWatch::handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_RESTART;
        sigaction(SIGINT, &action, &oldInt);
        sigaction(SIGTERM, &action, &oldTerm);
    }
    ~InterruptWatch()
    {
        if (writeFd < 0)
            return;
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
        writeFd = -1;
        notifier.reset();
        ::close(fds[0]);
        ::close(fds[1]);
    }
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    static void handle(int)
    {
        // Installed only once the pipe is open.
        const int saved = errno;
        [[maybe_unused]] const ssize_t written = ::write(writeFd, "!", 1);
        errno = saved;
    }

    static inline volatile sig_atomic_t writeFd = -1;
    int fds[2] = {-1, -1};
    std::optional<QSocketNotifier> notifier;
    struct sigaction oldInt = {};
    struct sigaction oldTerm = {};
};

// The face the commands run under on the command line: the start address it was given, and how
// far the run is, shown on a terminal on one line rewritten in place, at most ten times a second.
class TerminalHost final : public CommandHost
{
public:
    TerminalHost(QString start, QIODevice &err, bool showProgress)
        : start(std::move(start))
        , err(err)
        , showProgress(showProgress)
    {
        clock.start();
    }
    ~TerminalHost()
    {
        if (shown)
            put(err, QStringLiteral("\r\x1b[K"));
    }
    TerminalHost(const TerminalHost &) = delete;
    TerminalHost &operator=(const TerminalHost &) = delete;

    QString startAddress() const override { return start; }

    void progress(const QString &doing) override
    {
        if (!showProgress || (shown && clock.elapsed() < 100))
            return;
        clock.restart();
        shown = true;
        put(err, QStringLiteral("\r\x1b[K") + doing);
    }

private:
    QString start;
    QIODevice &err;
    bool showProgress = false;
    QElapsedTimer clock;
    bool shown = false;
};

// The terminal's echo turned off while it lives. A signal that ends the program meanwhile turns
// it back on first, so the terminal is not left silent.
class EchoOff final
{
public:
    explicit EchoOff(int terminal)
    {
        if (::tcgetattr(terminal, &saved) != 0)
            return;
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        silent.c_lflag |= ECHONL;
        fd = terminal;
        struct sigaction action = {};
        action.sa_handler = &EchoOff::restoreAndDie;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        for (std::size_t i = 0; i < std::size(Signals); ++i)
            sigaction(Signals[i], &action, &oldActions[i]);
        ::tcsetattr(terminal, TCSAFLUSH, &silent);
    }
    ~EchoOff()
    {
        if (fd < 0)
            return;
        ::tcsetattr(fd, TCSAFLUSH, &saved);
        for (std::size_t i = 0; i < std::size(Signals); ++i)
            sigaction(Signals[i], &oldActions[i], nullptr);
        fd = -1;
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

private:
    static constexpr int Signals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGTSTP};

    // Both calls are async-signal-safe; the handler was reset, so the signal acts as ever.
    static void restoreAndDie(int signal)
    {
        ::tcsetattr(fd, TCSANOW, &saved);
        ::raise(signal);
    }

    static inline volatile sig_atomic_t fd = -1;
    static inline termios saved = {};
    struct sigaction oldActions[std::size(Signals)] = {};
};

// The password for `user`, typed on the terminal after a prompt on standard error. Nothing when
// standard input is not a terminal (a pipe, a file, a CI runner: nobody there to type it), or
// when the terminal ends before a line.
std::optional<QString> typedPassword(const QString &user, QIODevice &err)
{
    if (::isatty(STDIN_FILENO) != 1)
        return std::nullopt;
    const int terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0)
        return std::nullopt;
    put(err, QStringLiteral("Password for %1: ").arg(user));
    QByteArray typed;
    bool ended = false;
    {
        const EchoOff echoOff(terminal);
        char c = 0;
        while (typed.size() <= LongestPassword) {
            const ssize_t got = ::read(terminal, &c, 1);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            if (c == '\n') {
                ended = true;
                break;
            }
            typed.append(c);
        }
    }
    ::close(terminal);
    if (typed.endsWith('\r'))
        typed.chop(1);
    const QString password = QString::fromLocal8Bit(typed);
    typed.fill('\0');
    if (!ended)
        return std::nullopt;
    return password;
}

// Whether the page at `address` answers, judged by its answer as the check would judge it; the
// reason when not. The load, which answered, goes on as the crawl's first page.
std::optional<QString> startPageFailure(std::unique_ptr<PageLoad> &load, const bool &interrupted)
{
    while (!load->isDone() && !interrupted)
        sleepUntilNextEvent();
    if (!load->isDone())
        return std::nullopt;
    const PageVerdict verdict = answerVerdict(*load);
    if (verdict.broken)
        return verdict.reason;
    return std::nullopt;
}

// The options, or the exit status when the run ends here.
std::variant<Options, int> parse(const QStringList &arguments, const CommandLineServices &io)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Checks one web site for broken links and prints a report.\n\n"
            "Exit status: 0 when nothing is broken, 1 when a page is broken, 2 for bad "
            "usage, a start page that cannot be loaded or a report that cannot be "
            "written, 130 when interrupted (the report holds what was found so far)."));
    const QCommandLineOption check(
            QStringLiteral("check"),
            QStringLiteral("Crawl the site at <url> and check every page listed."),
            QStringLiteral("url"));
    const QCommandLineOption format(
            QStringLiteral("format"),
            QStringLiteral("Report as text (the default), csv, json, html or junit."),
            QStringLiteral("format"));
    const QCommandLineOption output(
            QStringLiteral("output"),
            QStringLiteral("Write the report to <file> instead of standard output; "
                           "without --format its suffix (.csv, .json, .html, .xml) picks the "
                           "format."),
            QStringLiteral("file"));
    const QCommandLineOption errorText(
            QStringLiteral("error-text"),
            QStringLiteral("A text that marks a page as broken, in place of the "
                           "kept ones; may be given more than once."),
            QStringLiteral("text"));
    const QCommandLineOption crawls(
            QStringLiteral("crawls"),
            QStringLiteral(
                    "Crawl <n> times before the check, one level deeper each time (default 1)."),
            QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption resources(
            QStringLiteral("resources"),
            QStringLiteral("Also list and check the images, styles, scripts and frames of each "
                           "page."));
    const QCommandLineOption fragments(
            QStringLiteral("fragments"),
            QStringLiteral("Check each #fragment against the anchors of its page."));
    const QCommandLineOption strictRedirects(
            QStringLiteral("strict-redirects"),
            QStringLiteral("Count a link answered by a permanent redirect (301, 308) as broken."));
    const QCommandLineOption header(
            QStringLiteral("header"),
            QStringLiteral("Send the header \"Name: value\" to the start address's host only; "
                           "may be given more than once."),
            QStringLiteral("header"));
    const QCommandLineOption user(
            QStringLiteral("user"),
            QStringLiteral("Log in to the start address's host as <name> (HTTP basic "
                           "authentication). The password is SKARNEL_PASSWORD, or typed on the "
                           "terminal when that is not set."),
            QStringLiteral("name"));
    const QCommandLineOption cookies(
            QStringLiteral("cookies"),
            QStringLiteral("Send the cookies of the Netscape cookie file <file>."),
            QStringLiteral("file"));
    const QCommandLineOption perHost(
            QStringLiteral("per-host"),
            QStringLiteral("Send at most <n> requests at once to one host (1 to %1, default %2).")
                    .arg(CheckSettings::MostPerHost)
                    .arg(CheckSettings().perHost),
            QStringLiteral("n"));
    const QCommandLineOption pause(
            QStringLiteral("pause"),
            QStringLiteral("Start two requests to one host at least <ms> milliseconds apart "
                           "(0 to %1, default 0).")
                    .arg(CheckSettings::LongestPauseMs),
            QStringLiteral("ms"));
    const QCommandLineOption retryCap(
            QStringLiteral("retry-cap"),
            QStringLiteral("Wait at most <s> seconds for a Retry-After (0 to %1, default %2).")
                    .arg(CheckSettings::LongestRetryCapS)
                    .arg(CheckSettings().retryCapS),
            QStringLiteral("s"));
    const QCommandLineOption accept(
            QStringLiteral("accept"),
            QStringLiteral("Count these statuses as fine, such as 403,429."),
            QStringLiteral("list"));
    const QCommandLineOption exclude(
            QStringLiteral("exclude"),
            QStringLiteral("List but do not check the addresses that the regular expression "
                           "<re> matches."),
            QStringLiteral("re"));
    const QCommandLineOption noCrawl(
            QStringLiteral("no-crawl"),
            QStringLiteral("List but do not crawl the pages that the regular expression <re> "
                           "matches."),
            QStringLiteral("re"));
    parser.addOptions({check, format, output, errorText, crawls, resources, fragments,
                       strictRedirects, header, user, cookies, perHost, pause, retryCap, accept,
                       exclude, noCrawl});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();

    auto usageError = [&](const QString &message) {
        put(io.err, QStringLiteral("skarnel: %1\nTry 'skarnel --help'.\n").arg(message));
        return int(BadUsage);
    };
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        put(io.out, parser.helpText());
        return int(NothingBroken);
    }
    if (parser.isSet(version)) {
        put(io.out, QStringLiteral("skarnel %1\n").arg(QCoreApplication::applicationVersion()));
        return int(NothingBroken);
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'")
                                  .arg(parser.positionalArguments().constFirst()));
    if (!parser.isSet(check))
        return usageError(QStringLiteral("--check URL is missing"));

    Options options;
    options.start = parser.value(check);
    if (options.start.trimmed().isEmpty())
        return usageError(QStringLiteral("--check needs the address of the start page"));

    options.output = parser.value(output);
    if (parser.isSet(output) && options.output.isEmpty())
        return usageError(QStringLiteral("--output needs a file name"));
    const QString formatName = parser.value(format).toLower();
    if (formatName == u"text")
        options.format = ReportFormat::Text;
    else if (formatName == u"csv")
        options.format = ReportFormat::Csv;
    else if (formatName == u"json")
        options.format = ReportFormat::Json;
    else if (formatName == u"html")
        options.format = ReportFormat::Html;
    else if (formatName == u"junit")
        options.format = ReportFormat::Junit;
    else if (parser.isSet(format))
        return usageError(QStringLiteral("unknown format '%1' (text, csv, json, html or junit)")
                                  .arg(parser.value(format)));
    else if (!options.output.isEmpty() && !QFileInfo(options.output).suffix().isEmpty())
        options.format = reportFormatForFile(options.output);

    if (parser.isSet(errorText))
        options.errorTexts = parser.values(errorText);

    bool number = false;
    options.crawls = parser.value(crawls).toInt(&number);
    if (!number || options.crawls < 1 || options.crawls > MostCrawls)
        return usageError(QStringLiteral("--crawls takes a number from 1 to %1").arg(MostCrawls));

    CheckSettings &settings = options.settings;
    settings.resources = parser.isSet(resources);
    settings.fragments = parser.isSet(fragments);
    settings.strictRedirects = parser.isSet(strictRedirects);
    settings.headers = parser.values(header);
    settings.cookieFile = parser.value(cookies);
    if (parser.isSet(cookies) && settings.cookieFile.isEmpty())
        return usageError(QStringLiteral("--cookies needs a file name"));
    settings.exclude = parser.value(exclude);
    settings.noCrawl = parser.value(noCrawl);
    const auto statuses = parseStatuses(parser.value(accept));
    if (const QString *error = std::get_if<QString>(&statuses))
        return usageError(QStringLiteral("--accept: ") + *error);
    settings.accept = std::get<QList<int>>(statuses);
    const std::tuple<const QCommandLineOption &, int &, int, int> numbers[] = {
            {perHost, settings.perHost, CheckSettings::FewestPerHost, CheckSettings::MostPerHost},
            {pause, settings.pauseMs, 0, CheckSettings::LongestPauseMs},
            {retryCap, settings.retryCapS, 0, CheckSettings::LongestRetryCapS},
    };
    for (const auto &[option, value, lowest, highest] : numbers) {
        if (!parser.isSet(option))
            continue;
        value = parser.value(option).toInt(&number);
        if (!number || value < lowest || value > highest)
            return usageError(QStringLiteral("--%1 takes a number from %2 to %3")
                                      .arg(option.names().constFirst())
                                      .arg(lowest)
                                      .arg(highest));
    }
    settings.user = parser.value(user);
    if (parser.isSet(user) && settings.user.isEmpty())
        return usageError(QStringLiteral("--user needs a user name"));
    if (const std::optional<QString> error = settingsError(settings))
        return usageError(*error);

    if (!settings.user.isEmpty()) {
        if (qEnvironmentVariableIsSet("SKARNEL_PASSWORD")) {
            settings.password = qEnvironmentVariable("SKARNEL_PASSWORD");
        } else if (std::optional<QString> typed = typedPassword(settings.user, io.err)) {
            settings.password = std::move(*typed);
        } else {
            return usageError(QStringLiteral("--user %1 needs a password: set SKARNEL_PASSWORD, "
                                             "or run from a terminal to type it")
                                      .arg(settings.user));
        }
        if (const std::optional<QString> error = settingsError(settings))
            return usageError(*error);
    }
    return options;
}

int run(const Options &options, const CommandLineServices &io)
{
    SiteModel site;
    if (options.errorTexts) {
        for (const QString &text : *options.errorTexts)
            site.errorTexts.append(text);
    } else if (!io.errorTexts || !loadErrorTexts(site.errorTexts, *io.errorTexts)) {
        fillInitialErrorTexts(site.errorTexts);
    }
    StopFlag stop;
    TerminalHost host(options.start, io.err, io.errIsTerminal);
    RunOptions runOptions = runOptionsOf(options.settings);
    runOptions.askOnce = true;
    const CommandContext command {.site = site, .stop = stop, .host = host, .options = runOptions};
    if (io.useNetworkPolicy) {
        // The cookie file was read once when the options were checked; a file that has gone
        // since is as bad a usage.
        const Checked<NetworkPolicy> policy = networkPolicyOf(options.settings, options.start);
        if (!policy.ok()) {
            put(io.err, QStringLiteral("skarnel: %1\n").arg(policy.error));
            return BadUsage;
        }
        io.useNetworkPolicy(policy.value);
    }

    bool interrupted = false;
    InterruptWatch watch([&] {
        interrupted = true;
        forceStop(command);
    });

    std::unique_ptr<PageLoad> startPage = io.documents.load(
            options.start,
            {.mode = LoadMode::Page,
             .reading = {.resources = runOptions.resources, .anchors = runOptions.fragments},
             .waitOutBusy = true});
    if (const std::optional<QString> failure = startPageFailure(startPage, interrupted)) {
        put(io.err, QStringLiteral("skarnel: the start page %1 cannot be loaded: %2\n")
                            .arg(withoutUserInfo(options.start), *failure));
        return BadUsage;
    }

    for (int i = 0; i < options.crawls && !interrupted; ++i)
        runCrawl(command, io.documents, std::move(startPage));
    if (!interrupted)
        runBrokenLinkCheck(command, io.transfer);

    const Report report =
            buildReport(site, withoutUserInfo(options.start), QDateTime::currentDateTime());
    if (options.output.isEmpty()) {
        io.out.write(formatReport(report, options.format));
    } else {
        QString error;
        if (!writeReport(report, options.format, options.output, &error)) {
            put(io.err,
                QStringLiteral("skarnel: cannot write %1: %2\n").arg(options.output, error));
            return BadUsage;
        }
    }
    if (interrupted)
        return Interrupted;
    return report.counts.broken > 0 ? SomethingBroken : NothingBroken;
}

} // namespace

bool isCommandLineRun(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        if (!name.startsWith(QLatin1Char('-')))
            continue;
        name = name.mid(name.startsWith(QStringLiteral("--")) ? 2 : 1)
                       .section(QLatin1Char('='), 0, 0);
        if (OurOptions.contains(name))
            return true;
    }
    return false;
}

int runCommandLine(const QStringList &arguments, const CommandLineServices &services)
{
    const std::variant<Options, int> parsed = parse(arguments, services);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    return run(std::get<Options>(parsed), services);
}

} // namespace skarnel
