#include "commandline.h"

#include <html/webaddress.h>
#include <net/folderpageload.h>
#include <report/report.h>
#include <walk/commandhost.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDevice>
#include <QIODevice>
#include <QSocketNotifier>

#include <fcntl.h>
#include <folder/builtfolder.h>
#include <run/siterun.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <limits>
#include <optional>
#include <type_traits>
#include <variant>
#include <vector>

namespace skarnel {

namespace {

// The longest password read from the terminal.
constexpr int LongestPassword = 4096;

// More crawls than this would go deeper than any site a check is meant for.
constexpr int MostCrawls = 100;

// What a command line asks for: the run's settings, and what only the command line says.
struct Request
{
    QString start;
    // Not given: text on standard output, and for a file what its name asks for.
    std::optional<ReportFormat> format;
    QString output;
    // Not given: the kept ones.
    std::optional<QStringList> errorTexts;
    // CheckSettings::AllLevels: the whole site.
    int crawls = 1;
    CheckSettings settings;
};

struct Range
{
    int lowest = 0;
    int highest = 0;
};

// Puts the values given to an option where they go, or says what is wrong with them. The words
// never quote a value that may be a secret.
using Apply = std::function<std::optional<QString>(Request &, const QStringList &values)>;

// One option of the command line. The parser, its help, the usage errors and isCommandLineRun()
// are all made from the rows of optionTable(): an option is added as a row, with a field of
// Request or of CheckSettings for its value.
struct OptionRow
{
    QString name;
    // Empty for a switch.
    QString valueName;
    QString help;
    Apply apply;
};

QString needs(const QString &name, const QString &what)
{
    return QStringLiteral("--%1 needs %2").arg(name, what);
}

template<typename Field, typename Owner>
Field &fieldOf(Request &request, Field Owner::*field)
{
    if constexpr (std::is_same_v<Owner, Request>)
        return request.*field;
    else
        return request.settings.*field;
}

template<typename Owner>
OptionRow switchRow(const char *name, const QString &help, bool Owner::*field)
{
    return {QLatin1String(name), {}, help, [field](Request &request, const QStringList &) {
                fieldOf(request, field) = true;
                return std::optional<QString>();
            }};
}

// The last value given, which may be empty only when `what` is.
template<typename Owner>
OptionRow textRow(const char *name, const char *valueName, const QString &what, const QString &help,
                  QString Owner::*field)
{
    return {QLatin1String(name), QLatin1String(valueName), help,
            [name = QLatin1String(name), what, field](Request &request, const QStringList &values) {
                fieldOf(request, field) = values.constLast();
                if (values.constLast().isEmpty() && !what.isEmpty())
                    return std::optional<QString>(needs(name, what));
                return std::optional<QString>();
            }};
}

// Every value given, in order.
template<typename Owner>
OptionRow textsRow(const char *name, const char *valueName, const QString &help,
                   QStringList Owner::*field)
{
    return {QLatin1String(name), QLatin1String(valueName), help,
            [field](Request &request, const QStringList &values) {
                fieldOf(request, field) = values;
                return std::optional<QString>();
            }};
}

// A whole number within `range`; the help ends with the range and the default.
template<typename Owner>
OptionRow numberRow(const char *name, const char *valueName, const QString &help, Range range,
                    int Owner::*field)
{
    Request defaults;
    const int fallback = fieldOf(defaults, field);
    return {QLatin1String(name), QLatin1String(valueName),
            QStringLiteral("%1 (%2 to %3, default %4).")
                    .arg(help)
                    .arg(range.lowest)
                    .arg(range.highest)
                    .arg(fallback),
            [name = QLatin1String(name), range, field](Request &request,
                                                       const QStringList &values) {
                bool number = false;
                const int value = values.constLast().toInt(&number);
                if (!number || value < range.lowest || value > range.highest)
                    return std::optional<QString>(
                            QStringLiteral("--%1 takes a number from %2 to %3")
                                    .arg(name)
                                    .arg(range.lowest)
                                    .arg(range.highest));
                fieldOf(request, field) = value;
                return std::optional<QString>();
            }};
}

std::optional<ReportFormat> formatNamed(const QString &name)
{
    const std::pair<const char *, ReportFormat> formats[] = {{"text", ReportFormat::Text},
                                                             {"csv", ReportFormat::Csv},
                                                             {"json", ReportFormat::Json},
                                                             {"html", ReportFormat::Html},
                                                             {"junit", ReportFormat::Junit}};
    for (const auto &[known, format] : formats) {
        if (name.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return format;
    }
    return std::nullopt;
}

// The options of the command line, in the order its help lists them.
const std::vector<OptionRow> &optionTable()
{
    static const std::vector<OptionRow> table = {
            textRow("check", "url", QStringLiteral("the address of the start page"),
                    QStringLiteral("Crawl the site at <url> and check every page listed."),
                    &Request::start),
            {QStringLiteral("format"), QStringLiteral("format"),
             QStringLiteral("Report as text (the default), csv, json, html or junit."),
             [](Request &request, const QStringList &values) {
                 request.format = formatNamed(values.constLast());
                 if (!request.format)
                     return std::optional<QString>(
                             QStringLiteral("unknown format '%1' (text, csv, json, html or junit)")
                                     .arg(values.constLast()));
                 return std::optional<QString>();
             }},
            textRow("output", "file", QStringLiteral("a file name"),
                    QStringLiteral("Write the report to <file> instead of standard output; "
                                   "without --format its name picks the format: .html or .htm, "
                                   ".json, .xml (JUnit), any other CSV."),
                    &Request::output),
            {QStringLiteral("error-text"), QStringLiteral("text"),
             QStringLiteral("A text that marks a page as broken, in place of the kept ones; may be "
                            "given more than once."),
             [](Request &request, const QStringList &values) {
                 request.errorTexts = values;
                 return std::optional<QString>();
             }},
            {QStringLiteral("crawls"), QStringLiteral("n"),
             QStringLiteral("Crawl <n> times before the check, one level deeper each time (1 to "
                            "%1, default 1), or all: level after level until no new internal "
                            "page, each page loaded once.")
                     .arg(MostCrawls),
             [](Request &request, const QStringList &values) {
                 if (values.constLast().compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
                     request.crawls = CheckSettings::AllLevels;
                     return std::optional<QString>();
                 }
                 bool number = false;
                 request.crawls = values.constLast().toInt(&number);
                 if (!number || request.crawls < 1 || request.crawls > MostCrawls)
                     return std::optional<QString>(
                             QStringLiteral("--crawls takes a number from 1 to %1, or all")
                                     .arg(MostCrawls));
                 return std::optional<QString>();
             }},
            switchRow("resources",
                      QStringLiteral("Also list and check the images, styles, scripts and frames "
                                     "of each page."),
                      &CheckSettings::resources),
            switchRow("fragments",
                      QStringLiteral("Check each #fragment against the anchors of its page; "
                                     "without it a link holding a # is passed over."),
                      &CheckSettings::fragments),
            switchRow("strict-redirects",
                      QStringLiteral("Count a link answered by a permanent redirect (301, 308) as "
                                     "broken."),
                      &CheckSettings::strictRedirects),
            textsRow("header", "header",
                     QStringLiteral("Send the header \"Name: value\" to the start address's origin "
                                    "only; may be given more than once."),
                     &CheckSettings::headers),
            textRow("user", "name", QStringLiteral("a user name"),
                    QStringLiteral("Log in to the start address's origin as <name> (HTTP basic "
                                   "authentication). The password is SKARNEL_PASSWORD, or typed "
                                   "on the terminal when that is not set."),
                    &CheckSettings::user),
            textRow("cookies", "file", QStringLiteral("a file name"),
                    QStringLiteral("Send the cookies of the Netscape cookie file <file>."),
                    &CheckSettings::cookieFile),
            numberRow("per-host", "n",
                      QStringLiteral("Send at most <n> requests at once to one host"),
                      {CheckSettings::FewestPerHost, CheckSettings::MostPerHost},
                      &CheckSettings::perHost),
            numberRow("pause", "ms",
                      QStringLiteral("Start two requests to one host at least <ms> milliseconds "
                                     "apart"),
                      {0, CheckSettings::LongestPauseMs}, &CheckSettings::pauseMs),
            numberRow("retry-cap", "s",
                      QStringLiteral("Wait at most <s> seconds for a Retry-After"),
                      {0, CheckSettings::LongestRetryCapS}, &CheckSettings::retryCapS),
            {QStringLiteral("accept"), QStringLiteral("list"),
             QStringLiteral("Count these statuses as fine, such as 403,429; the start page too."),
             [](Request &request, const QStringList &values) {
                 const auto statuses = parseStatuses(values.constLast());
                 if (const QString *error = std::get_if<QString>(&statuses))
                     return std::optional<QString>(QStringLiteral("--accept: ") + *error);
                 request.settings.accept = std::get<QList<int>>(statuses);
                 return std::optional<QString>();
             }},
            textRow("exclude", "re", {},
                    QStringLiteral("List but do not check the addresses that the regular "
                                   "expression <re> matches."),
                    &CheckSettings::exclude),
            textRow("no-crawl", "re", {},
                    QStringLiteral("List but do not crawl the pages that the regular expression "
                                   "<re> matches."),
                    &CheckSettings::noCrawl),
            // Certificates, our name and the whole site.
            textRow("ca-file", "file", QStringLiteral("a file name"),
                    QStringLiteral("Trust the authorities of the PEM file <file> for every host, "
                                   "besides the system's. Without it CURL_CA_BUNDLE, else "
                                   "SSL_CERT_FILE, names the file."),
                    &CheckSettings::caFile),
            switchRow("insecure",
                      QStringLiteral("Do not verify the certificate of the start address's origin "
                                     "(its scheme, host and port); every other one is verified."),
                      &CheckSettings::insecure),
            textRow("user-agent", "text", QStringLiteral("a text"),
                    QStringLiteral("Send <text> as the User-Agent in place of Skarnel/VERSION."),
                    &CheckSettings::userAgent),
            numberRow("max-pages", "n", QStringLiteral("With --crawls all, load at most <n> pages"),
                      {1, std::numeric_limits<int>::max()}, &CheckSettings::maxPages),
            textRow("site-url", "url", QStringLiteral("an http or https address"),
                    QStringLiteral("Read a built folder given to --check as if served at <url>: "
                                   "links written in full to it are the folder's."),
                    &CheckSettings::siteUrl),
            switchRow("robots",
                      QStringLiteral("Keep out of what each site's robots.txt forbids, and wait "
                                     "its Crawl-delay between requests."),
                      &CheckSettings::robots),
            textRow("sitemap", "url", QStringLiteral("a sitemap address or 'auto'"),
                    QStringLiteral("Add the site's pages that the sitemap at <url> lists to the "
                                   "first level; 'auto': the sitemaps robots.txt names, else "
                                   "/sitemap.xml."),
                    &CheckSettings::sitemap),
    };
    return table;
}

// The parser of the options in optionTable(), with --help and --version; the names of each
// option it knows, in `names` when given.
void makeParser(QCommandLineParser &parser, QStringList *names = nullptr)
{
    parser.setApplicationDescription(QStringLiteral(
            "Checks one web site for broken links and prints a report.\n\n"
            "Exit status: 0 when nothing is broken, 1 when a page is broken, 2 for bad "
            "usage, a start page that cannot be loaded or a report that cannot be "
            "written, 130 when interrupted (the report holds what was found so far)."));
    for (const OptionRow &row : optionTable())
        parser.addOption(QCommandLineOption(row.name, row.help, row.valueName));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!names)
        return;
    for (const OptionRow &row : optionTable())
        names->append(row.name);
    *names += help.names();
    *names += version.names();
}

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

// The request, or the exit status when the run ends here.
std::variant<Request, int> parse(const QStringList &arguments, const CommandLineServices &io)
{
    QCommandLineParser parser;
    makeParser(parser);
    auto usageError = [&](const QString &message) {
        put(io.err, QStringLiteral("skarnel: %1\nTry 'skarnel --help'.\n").arg(message));
        return int(BadUsage);
    };
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        put(io.out, parser.helpText());
        return int(NothingBroken);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        put(io.out, QStringLiteral("skarnel %1\n").arg(QCoreApplication::applicationVersion()));
        return int(NothingBroken);
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'")
                                  .arg(parser.positionalArguments().constFirst()));
    if (!parser.isSet(QStringLiteral("check")))
        return usageError(QStringLiteral("--check URL is missing"));

    Request request;
    for (const OptionRow &row : optionTable()) {
        if (!parser.isSet(row.name))
            continue;
        if (const std::optional<QString> error = row.apply(request, parser.values(row.name)))
            return usageError(*error);
    }
    if (request.start.trimmed().isEmpty())
        return usageError(
                needs(QStringLiteral("check"), QStringLiteral("the address of the start page")));

    // A login that makes the address ambiguous is named without its password.
    if (const Checked<QUrl> start = checkAddress(request.start.trimmed()); !start.ok())
        return usageError(QStringLiteral("--check: ") + start.error);
    CheckSettings &settings = request.settings;
    if (const Checked<QString> caFile =
                chooseCaFile(settings.caFile, qEnvironmentVariable("CURL_CA_BUNDLE"),
                             qEnvironmentVariable("SSL_CERT_FILE"));
        !caFile.ok())
        return usageError(caFile.error);
    if (const std::optional<QString> error = settingsError(settings))
        return usageError(*error);
    // A path, relative or absolute, or a file:// address: a built folder, or a page in one, run
    // from its file:// address.
    if (isFolderStart(request.start, true)) {
        const FolderStart folder =
                checkFolderStart(request.start, settings.siteUrl, QDir::currentPath());
        if (!folder.ok())
            return usageError(QStringLiteral("--check: ") + folder.error);
        request.start = shownAddress(BuiltFolder(folder.root, folder.site), folder.start);
    }
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
    return request;
}

// SIGPIPE ignored while it lives: a report written to a pipe that has closed is a write error,
// reported as any other, not the end of the process.
class PipeErrorsReported final
{
public:
    PipeErrorsReported()
    {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &old);
    }
    ~PipeErrorsReported() { sigaction(SIGPIPE, &old, nullptr); }
    PipeErrorsReported(const PipeErrorsReported &) = delete;
    PipeErrorsReported &operator=(const PipeErrorsReported &) = delete;

private:
    struct sigaction old = {};
};

// Writes the whole report to `out`, a row at a time; why not, when it could not.
std::optional<QString> writeAll(QIODevice &out, const Report &report, ReportFormat format)
{
    bool written = writeReport(report, format, out);
    if (auto *file = qobject_cast<QFileDevice *>(&out))
        written = file->flush() && written;
    if (written)
        return std::nullopt;
    return out.errorString();
}

int run(const Request &request, const CommandLineServices &io)
{
    TerminalHost host(request.start, io.err, io.errIsTerminal);
    SiteRun run({io.documents, io.transfer, io.useNetworkPolicy}, host);
    run.setSettings(request.settings);
    if (request.errorTexts)
        run.useErrorTexts(*request.errorTexts);
    else if (io.errorTexts)
        run.useKeptErrorTexts(*io.errorTexts, false);

    for (const QString &note : run.notes())
        put(io.err, QStringLiteral("skarnel: %1\n").arg(note));
    if (networkPolicyOf(request.settings, request.start).value.insecureWithCredentials())
        put(io.err, QStringLiteral("skarnel: warning: the credentials go to an origin whose "
                                   "certificate is not verified\n"));

    const InterruptWatch watch([&] { run.forceStop(); });
    const SiteRun::Outcome outcome = run.crawlAndCheck(request.crawls);
    if (run.stoppedAtLimit())
        put(io.err, QStringLiteral("skarnel: stopped at the limit of %1 pages\n")
                            .arg(request.settings.maxPages));
    using End = SiteRun::Outcome::End;
    if (outcome.end == End::BadPolicy) {
        put(io.err, QStringLiteral("skarnel: %1\n").arg(outcome.reason));
        return BadUsage;
    }
    if (outcome.end == End::Disallowed) {
        put(io.err, QStringLiteral("skarnel: the start page %1 is disallowed by robots.txt\n")
                            .arg(withoutUserInfo(request.start)));
        return BadUsage;
    }
    if (outcome.end == End::NotLoaded) {
        put(io.err, QStringLiteral("skarnel: the start page %1 cannot be loaded: %2\n")
                            .arg(withoutUserInfo(request.start), outcome.reason));
        return BadUsage;
    }
    for (const QString &note : run.notes())
        put(io.err, QStringLiteral("skarnel: %1\n").arg(note));

    if (request.output.isEmpty()) {
        if (const std::optional<QString> error =
                    writeAll(io.out, run.report(), request.format.value_or(ReportFormat::Text))) {
            put(io.err, QStringLiteral("skarnel: cannot write the report to standard output: %1\n")
                                .arg(*error));
            return BadUsage;
        }
    } else if (QString error; !run.saveReport(request.output, request.format, &error)) {
        put(io.err, QStringLiteral("skarnel: cannot write %1: %2\n").arg(request.output, error));
        return BadUsage;
    }
    if (outcome.end == End::Stopped)
        return Interrupted;
    return run.site().brokenCount.value() > 0 ? SomethingBroken : NothingBroken;
}

} // namespace

bool isCommandLineRun(const QStringList &arguments)
{
    QCommandLineParser parser;
    QStringList ours;
    makeParser(parser, &ours);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        if (!name.startsWith(QLatin1Char('-')))
            continue;
        name = name.mid(name.startsWith(QStringLiteral("--")) ? 2 : 1)
                       .section(QLatin1Char('='), 0, 0);
        if (ours.contains(name))
            return true;
    }
    return false;
}

int runCommandLine(const QStringList &arguments, const CommandLineServices &services)
{
    const PipeErrorsReported pipeErrors;
    const std::variant<Request, int> parsed = parse(arguments, services);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    return run(std::get<Request>(parsed), services);
}

} // namespace skarnel
