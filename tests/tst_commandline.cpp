// skarnel --check: the command line over loopback sites, in this process and as the real program.
#include "support/commandlinerun.h"
#include "support/loopbackserver.h"
#include "support/networkwindow.h"

#include <app/commandline.h>

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <csignal>

using namespace skarnel;

using namespace std::chrono_literals;

namespace {

// The program itself, with no display, a display platform that does not exist, and a settings
// folder of its own.
// Standard input is a pipe, not a terminal; SKARNEL_PASSWORD is set only when `password` is given.
// Standard output goes to the file `standardOutput` when one is named.
// `fileSizeLimit` bytes, when not 0, is the most the program may write to any file: a write past
// it fails ("File too large") instead of ending the process.
Run runProgram(const QStringList &arguments, const QString &configFolder,
               const QString &password = {}, const QString &standardOutput = {},
               rlim_t fileSizeLimit = 0)
{
    QProcess program;
    if (fileSizeLimit > 0) {
        program.setChildProcessModifier([fileSizeLimit] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit = {fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "SKARNEL_PASSWORD"})
        environment.remove(name);
    if (!password.isNull())
        environment.insert("SKARNEL_PASSWORD", password);
    environment.insert("QT_QPA_PLATFORM", "no-such-platform");
    environment.insert("XDG_CONFIG_HOME", configFolder);
    program.setProcessEnvironment(environment);
    if (!standardOutput.isEmpty())
        program.setStandardOutputFile(standardOutput);
    program.start(QStringLiteral(SKARNEL_PROGRAM), arguments);
    Run run;
    if (!program.waitForFinished(hangBoundMs(60s))) {
        program.kill();
        program.waitForFinished();
        return run;
    }
    run.status = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    run.out = program.readAllStandardOutput();
    run.err = program.readAllStandardError();
    return run;
}

// The sample site: fine pages, two broken by their status, one by its text, one refused.
struct Site
{
    Site()
    {
        site.page("/", linksPage({"/ok.html", "/missing.html", "/soft.html", other.url("/ext.html"),
                                  other.url("/gone.html"), LoopbackServer::refusedUrl("/x.html")}));
        site.page("/ok.html", linksPage({"/deeper.html", "/missing.html"}));
        site.page("/deeper.html", linksPage({"/deepest.html"}));
        site.page("/leaf.html", linksPage({}));
        site.page("/missing.html", "<h1>Not here</h1>", "text/html", 404);
        site.page("/soft.html", "<h1>Sorry, Page Not Found</h1>");
        other.page("/ext.html", "Fine");
        other.page("/gone.html", "", "text/html", 410);
    }
    QString start() const { return site.url("/"); }

    LoopbackServer site;
    LoopbackServer other {QStringLiteral("127.0.0.2")};
};

QStringList addressesOf(const QJsonArray &pages, const QString &field, const QString &value)
{
    QStringList addresses;
    for (const QJsonValue &page : pages) {
        if (page.toObject().value(field).toString() == value)
            addresses.append(page.toObject().value("address").toString());
    }
    return addresses;
}

QString tlsFile(const QString &name)
{
    return QFINDTESTDATA(QStringLiteral("data/tls/") + name);
}

// Two HTTPS servers on two ports of 127.0.0.1 with the same certificate: the start page links to
// a page of the other.
struct TlsSite
{
    explicit TlsSite(const QString &certificate)
        : site(QStringLiteral("127.0.0.1"), {tlsFile(certificate), tlsFile("leaf.key")})
        , other(QStringLiteral("127.0.0.1"), {tlsFile(certificate), tlsFile("leaf.key")})
    {
        site.page("/", linksPage({"/a.html", other.url("/ext.html")}));
        site.page("/a.html", "Fine");
        other.page("/ext.html", "Fine");
    }
    LoopbackServer site;
    LoopbackServer other;
};

// An environment variable set for one test, as it was again after.
class EnvironmentSet final
{
public:
    EnvironmentSet(const char *name, const QString &value)
        : name(name)
        , wasSet(qEnvironmentVariableIsSet(name))
        , old(qgetenv(name))
    {
        if (!value.isNull())
            qputenv(name, value.toUtf8());
    }
    ~EnvironmentSet()
    {
        if (wasSet)
            qputenv(name, old);
        else
            qunsetenv(name);
    }
    EnvironmentSet(const EnvironmentSet &) = delete;
    EnvironmentSet &operator=(const EnvironmentSet &) = delete;

private:
    const char *name;
    bool wasSet;
    QByteArray old;
};

} // namespace

class CommandLineTest final : public QObject
{
    Q_OBJECT

private slots:
    void check_findsWhatTheWindowFinds();
    void check_asksEachAddressOnce();
    void exitStatus_data();
    void exitStatus();
    void settings_checkedBeforeAnyRequest_data();
    void settings_checkedBeforeAnyRequest();
    void errorText_replacesTheTextsForTheRun();
    void output_writesTheFileInItsFormat();
    void interrupt_stopsAndStillWritesWhatWasFound();
    void program_runsWithoutDisplayAndKeptTexts();
    void program_userNeedsPasswordFromEnvironmentOrTerminal();
    void program_reportThatCannotBeWrittenEndsTheRun_data();
    void program_reportThatCannotBeWrittenEndsTheRun();
    void certificates_trustedOrNotVerified_data();
    void certificates_trustedOrNotVerified();
    void insecure_saidInEveryReportButCsv();
    void userAgent_replacesOurName();
    void crawlsAll_reachesEveryLevelUpToTheLimit_data();
    void crawlsAll_reachesEveryLevelUpToTheLimit();
};

void CommandLineTest::check_findsWhatTheWindowFinds()
{
    Site site;
    NetworkWindow h;
    h.setAddress(site.start());
    h.trigger("mnuCrawl");
    h.trigger("mnuCrawl");
    h.check();

    const Run run = runHere({"--check", site.start(), "--crawls", "2", "--format", "json"});

    QCOMPARE(run.status, int(SomethingBroken));
    const QJsonObject report = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(report.value("start").toString(), site.start());
    const QJsonArray pages = report.value("pages").toArray();
    QCOMPARE(addressesOf(pages, "list", "internal"), h.entries("lstInternal"));
    QCOMPARE(addressesOf(pages, "list", "external"), h.entries("lstExternal"));
    QCOMPARE(addressesOf(pages, "result", "broken"), h.lines("txtBroken"));
    QVERIFY(h.entries("lstInternal").contains(site.site.url("/deepest.html"))); // two crawls deep
    const QJsonObject counts = report.value("counts").toObject();
    QCOMPARE("Internal links: " + QString::number(counts.value("internal").toInt()),
             h.caption("lblInternal"));
    QCOMPARE("External links: " + QString::number(counts.value("external").toInt()),
             h.caption("lblExternal"));
    QCOMPARE("Total links: " + QString::number(counts.value("total").toInt()),
             h.caption("lblTotal"));
    QCOMPARE("Broken links: " + QString::number(counts.value("broken").toInt()),
             h.caption("lblBroken"));
    QCOMPARE(counts.value("broken").toInt(), 5);
}

// The start page's test is the crawl's first load, a later crawl loads no page again, and the check
// judges every page the crawl read whole by that answer: ten crawls and a check ask once for each.
void CommandLineTest::check_asksEachAddressOnce()
{
    Site site;
    const Run run = runHere({"--check", site.start(), "--crawls", "10", "--format", "json"});

    QCOMPARE(run.status, int(SomethingBroken));
    const QJsonObject report = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(report.value("counts").toObject().value("broken").toInt(), 5);
    for (const char *path :
         {"/", "/ok.html", "/missing.html", "/soft.html", "/deeper.html", "/deepest.html"})
        QCOMPARE(site.site.hits(path), 1);
    for (const char *path : {"/ext.html", "/gone.html"})
        QCOMPARE(site.other.hits(path), 1);
}

void CommandLineTest::exitStatus_data()
{
    QTest::addColumn<QStringList>("options"); // "START" stands for the start page
    QTest::addColumn<int>("status");
    QTest::newRow("nothing broken") << QStringList {"--check", "START/leaf.html"} << 0;
    QTest::newRow("something broken") << QStringList {"--check", "START/"} << 1;
    QTest::newRow("start page refused")
            << QStringList {"--check", LoopbackServer::refusedUrl()} << 2;
    QTest::newRow("start page missing") << QStringList {"--check", "START/missing.html"} << 2;
    QTest::newRow("start page's status accepted")
            << QStringList {"--check", "START/missing.html", "--accept", "404"} << 0;
    QTest::newRow("not a web address") << QStringList {"--check", "site.test"} << 2;
    QTest::newRow("no --check") << QStringList {"--format", "csv"} << 2;
    QTest::newRow("empty address") << QStringList {"--check", " "} << 2;
    QTest::newRow("unknown format") << QStringList {"--check", "START/", "--format", "pdf"} << 2;
    QTest::newRow("no crawl") << QStringList {"--check", "START/", "--crawls", "0"} << 2;
    QTest::newRow("crawls not a number")
            << QStringList {"--check", "START/", "--crawls", "two"} << 2;
    QTest::newRow("unknown option") << QStringList {"--check", "START/", "--deep"} << 2;
    QTest::newRow("stray argument") << QStringList {"--check", "START/", "more"} << 2;
    QTest::newRow("help") << QStringList {"--help"} << 0;
    QTest::newRow("junit") << QStringList {"--check", "START/leaf.html", "--format", "junit"} << 0;
}

void CommandLineTest::exitStatus()
{
    QFETCH(QStringList, options);
    QFETCH(int, status);
    Site site;
    options.replaceInStrings("START/", site.start());

    const Run run = runHere(options);

    QCOMPARE(run.status, status);
    // Bad usage says why on standard error and reports nothing.
    QCOMPARE(run.err.isEmpty(), status != 2);
    if (status == 2)
        QVERIFY(run.out.isEmpty());
}

void CommandLineTest::settings_checkedBeforeAnyRequest_data()
{
    QTest::addColumn<QStringList>("options"); // BAD and GOOD stand for cookie files
    QTest::addColumn<QString>("problem");     // empty: the run goes ahead
    QTest::newRow("header without a colon")
            << QStringList {"--header", "X-Team: web", "--header", "Authorization Bearer s3cret"}
            << "has no colon";
    QTest::newRow("header with a line break")
            << QStringList {"--header", "X-A: s3cret\r\nX-B: c"} << "line break";
    QTest::newRow("header without a name")
            << QStringList {"--header", " : s3cret"} << "needs a name";
    QTest::newRow("not a cookie file") << QStringList {"--cookies", "BAD"} << "line 3";
    QTest::newRow("no cookie file") << QStringList {"--cookies", "BAD.none"} << "cannot read";
    QTest::newRow("status range") << QStringList {"--accept", "4xx"} << "\"4xx\" is not a status";
    QTest::newRow("status word") << QStringList {"--accept", "403,abc"} << "\"abc\"";
    QTest::newRow("status too high") << QStringList {"--accept", "600"} << "\"600\"";
    QTest::newRow("exclude") << QStringList {"--exclude", "("} << "exclude pattern \"(\"";
    QTest::newRow("no-crawl") << QStringList {"--no-crawl", "a["} << "no-crawl pattern \"a[\"";
    QTest::newRow("per-host") << QStringList {"--per-host", "0"} << "--per-host takes a number";
    QTest::newRow("pause") << QStringList {"--pause", "-1"} << "--pause takes a number";
    QTest::newRow("retry-cap") << QStringList {"--retry-cap", "x"} << "--retry-cap takes a number";
    QTest::newRow("ambiguous login")
            << QStringList {"--check", "http://ci:s3cret/x@127.0.0.1:1/"} << "cannot be read";
    QTest::newRow("max-pages") << QStringList {"--max-pages", "0"} << "--max-pages takes a number";
    QTest::newRow("sitemap") << QStringList {"--sitemap", "file:///tmp/s.xml"} << "the sitemap";
    QTest::newRow("every setting, sound")
            << QStringList {"--resources", "--fragments", "--strict-redirects",
                            "--header",    "X-Team: web", "--cookies",
                            "GOOD",        "--per-host",  "2",
                            "--pause",     "1",           "--retry-cap",
                            "0",           "--accept",    "403, 429",
                            "--exclude",   "\\.pdf$",     "--no-crawl",
                            "/archive/"}
            << "";
}

// A usage error names what is wrong, quotes no secret, and comes before any request.
void CommandLineTest::settings_checkedBeforeAnyRequest()
{
    QFETCH(QStringList, options);
    QFETCH(QString, problem);
    QTemporaryDir folder;
    const std::pair<const char *, QByteArray> cookieFiles[] = {
            {"GOOD", "# Netscape HTTP Cookie File\n\n#HttpOnly_.127.0.0.1\tTRUE\t/\tFALSE\t0\t"
                     "session\ts3cret\n127.0.0.1\tFALSE\t/\tFALSE\t0\tempty\t\r\n"},
            {"BAD", "# Netscape HTTP Cookie File\n\nsession=s3cret\n"},
    };
    for (const auto &[name, content] : cookieFiles) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        options.replaceInStrings(QRegularExpression(QStringLiteral("^%1").arg(name)),
                                 folder.filePath(name));
    }
    LoopbackServer site;
    site.page("/", linksPage({}));

    const Run run = runHere(QStringList {"--check", site.url("/")} + options);

    QVERIFY(!run.err.contains("s3cret"));
    if (problem.isEmpty()) {
        QCOMPARE(run.status, int(NothingBroken));
        QVERIFY(site.hits("/") > 0);
        return;
    }
    QCOMPARE(run.status, int(BadUsage));
    QVERIFY2(run.err.startsWith("skarnel: ") && run.err.contains(problem.toUtf8())
                     && run.err.endsWith("\nTry 'skarnel --help'.\n"),
             run.err.constData());
    QVERIFY(run.out.isEmpty());
    QCOMPARE(site.hits("/"), 0);
}

void CommandLineTest::errorText_replacesTheTextsForTheRun()
{
    LoopbackServer site;
    site.page("/", linksPage({"/a.html", "/b.html"}));
    site.page("/a.html", "Error 404 is a number here");
    site.page("/b.html", "Oops, this is gone");

    const Run run =
            runHere({"--check", site.url("/"), "--error-text", "oops", "--error-text", "nothing"});

    QCOMPARE(run.status, int(SomethingBroken));
    QCOMPARE(QString::fromUtf8(run.out).split('\n'),
             QStringList({site.url("/b.html")
                                  + "\tthe text shows \"oops\" in \"Oops, this is gone\"\tfound on "
                                  + site.url("/"),
                          "Internal links: 2  External links: 0  Total links: 2  Broken links: 1",
                          ""}));
}

void CommandLineTest::output_writesTheFileInItsFormat()
{
    Site site;
    QTemporaryDir folder;

    const Run run = runHere({"--check", site.start(), "--output", folder.filePath("report.csv")});
    // As Save Report does: a name without a known suffix is CSV, and written as named.
    const Run bare = runHere({"--check", site.start(), "--output", folder.filePath("report")});
    const Run unwritable =
            runHere({"--check", site.start(), "--output", folder.filePath("none/report.csv")});

    QCOMPARE(run.status, int(SomethingBroken));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(bare.status, int(SomethingBroken));
    for (const char *name : {"report.csv", "report"}) {
        QFile csv(folder.filePath(name));
        QVERIFY2(csv.open(QIODevice::ReadOnly), name);
        QVERIFY(csv.readLine().startsWith("address,list,result,reason,http_status,found_on"));
    }
    QCOMPARE(unwritable.status, int(BadUsage));
    QVERIFY(unwritable.err.contains("report.csv"));
}

void CommandLineTest::interrupt_stopsAndStillWritesWhatWasFound()
{
    LoopbackServer site;
    site.page("/", linksPage({"/stalled.html", "/a.html"}));
    site.page("/a.html", linksPage({"/from-a.html"}));
    site.stall("/stalled.html");
    Run run;

    const InterruptedRun interrupted = interruptWhen(
            [&] { return site.trickling("/stalled.html") > 0; }, [] { std::raise(SIGINT); },
            [&] {
                run = runHere({"--check", site.url("/"), "--format", "csv"});
            });

    QVERIFY(interrupted.happened);
    QCOMPARE(run.status, int(Interrupted));
    const QString csv = QString::fromUtf8(run.out);
    QVERIFY(csv.startsWith("address,"));
    QVERIFY(csv.contains(site.url("/a.html") + ",internal,not checked," + ",," + site.url("/")));
    QVERIFY(!csv.contains("from-a")); // the crawl ended at the stalled page
    QTRY_COMPARE_WITH_TIMEOUT(site.abandoned("/stalled.html"), 1, hangBoundMs(5s));
}

void CommandLineTest::program_runsWithoutDisplayAndKeptTexts()
{
    Site site;
    QTemporaryDir config;

    const Run help = runProgram({"--help"}, config.path());
    const Run version = runProgram({"--version"}, config.path());
    const Run check = runProgram({"--check", site.start()}, config.path());
    const Run refused = runProgram({"--check", LoopbackServer::refusedUrl()}, config.path());
    {
        QSettings kept(config.filePath("Skarnel/Skarnel.conf"), QSettings::IniFormat);
        kept.beginWriteArray("errorTexts", 1);
        kept.setArrayIndex(0);
        kept.setValue("text", "fine");
        kept.endArray();
    }
    const Run keptTexts = runProgram({"--check", site.start(), "--format", "csv"}, config.path());

    QCOMPARE(help.status, 0);
    QVERIFY(help.out.contains("--check <url>"));
    QCOMPARE(version.status, 0);
    QCOMPARE(version.out, "skarnel " SKARNEL_VERSION "\n");
    QCOMPARE(check.status, 1);
    QVERIFY2(check.err.isEmpty(), check.err.constData()); // no progress when not a terminal
    QVERIFY(check.out.contains(site.site.url("/soft.html").toUtf8()
                               + "\tthe text shows \"page not found\""));
    QCOMPARE(refused.status, 2);
    QVERIFY2(refused.err.contains("connection refused"), refused.err.constData());
    QCOMPARE(keptTexts.status, 1);
    QVERIFY(keptTexts.out.contains(site.other.url("/ext.html").toUtf8()
                                   + ",external,broken,\"the text shows \"\"fine\"\" in \"\""));
    QVERIFY(!keptTexts.out.contains("page not found"));
}

// No terminal to type it on and no SKARNEL_PASSWORD: bad usage, before any request.
void CommandLineTest::program_userNeedsPasswordFromEnvironmentOrTerminal()
{
    LoopbackServer site;
    site.page("/", linksPage({}));
    QTemporaryDir config;

    const Run unasked = runProgram({"--check", site.url("/"), "--user", "ci"}, config.path());
    QCOMPARE(unasked.status, int(BadUsage));
    QVERIFY2(unasked.err.contains("--user ci needs a password: set SKARNEL_PASSWORD"),
             unasked.err.constData());
    QCOMPARE(site.hits("/"), 0);

    const Run given =
            runProgram({"--check", site.url("/"), "--user", "ci"}, config.path(), "pa55-s3cret");
    QCOMPARE(given.status, int(NothingBroken));
    QVERIFY(!(given.out + given.err).contains("s3cret"));
    QVERIFY(site.hits("/") > 0);
    // The command line keeps nothing.
    QVERIFY(!QFile::exists(config.filePath("Skarnel/Skarnel.conf")));
}

void CommandLineTest::program_reportThatCannotBeWrittenEndsTheRun_data()
{
    QTest::addColumn<QStringList>("options"); // REPORT: a file that holds an earlier report
    QTest::addColumn<QString>("standardOutput");
    QTest::addColumn<int>("fileSizeLimit");
    QTest::addColumn<QString>("cause");
    QTest::newRow("--output /dev/full")
            << QStringList {"--output", "/dev/full"} << QString() << 0 << "No space left on device";
    QTest::newRow("standard output /dev/full")
            << QStringList() << "/dev/full" << 0 << "No space left on device";
    // The report is written a row at a time: this fails in the middle of it.
    QTest::newRow("--output a file, too large")
            << QStringList {"--output", "REPORT"} << QString() << 4096 << "File too large";
}

// A full disk: status 2 and the cause, the device stays a device, and a file keeps what it held.
void CommandLineTest::program_reportThatCannotBeWrittenEndsTheRun()
{
    QFETCH(QStringList, options);
    QFETCH(QString, standardOutput);
    QFETCH(int, fileSizeLimit);
    QFETCH(QString, cause);
    if (!QFileInfo("/dev/full").isWritable() || QFileInfo("/dev/full").isFile())
        QSKIP("no /dev/full here");
    LoopbackServer site;
    QStringList links;
    for (int i = 0; i < 300; ++i)
        links.append(QStringLiteral("/missing-page-with-a-long-name-%1.html").arg(i));
    site.page("/", linksPage(links));
    QTemporaryDir config;
    QTemporaryDir folder;
    const QString report = folder.filePath("report.csv");
    QFile earlier(report);
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier\n") == 8);
    earlier.close();
    options.replaceInStrings("REPORT", report);

    const Run run = runProgram(QStringList {"--check", site.url("/")} + options, config.path(), {},
                               standardOutput, rlim_t(fileSizeLimit));

    QCOMPARE(run.status, int(BadUsage));
    QVERIFY2(run.err.contains(cause.toUtf8()), run.err.constData());
    QVERIFY(!QFileInfo("/dev/full").isFile());
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    QCOMPARE(earlier.readAll(), QByteArray("earlier\n"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList {"report.csv"});
}

void CommandLineTest::certificates_trustedOrNotVerified_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QStringList>("options"); // CA, EMPTY: the test authority, an empty file
    QTest::addColumn<QString>("variable");    // "NAME=VALUE"
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said"); // on standard error, or in the report when it ran
    QTest::newRow("--ca-file") << "good.pem" << QStringList {"--ca-file", "CA"} << "" << 0 << "";
    QTest::newRow("CURL_CA_BUNDLE")
            << "good.pem" << QStringList() << "CURL_CA_BUNDLE=CA" << 0 << "";
    QTest::newRow("SSL_CERT_FILE") << "good.pem" << QStringList() << "SSL_CERT_FILE=CA" << 0 << "";
    QTest::newRow("authority unknown")
            << "good.pem" << QStringList() << "" << 2
            << "cannot be loaded: certificate issued by an unknown authority";
    QTest::newRow("--ca-file missing") << "good.pem" << QStringList {"--ca-file", "/none/ca.pem"}
                                       << "" << 2 << "/none/ca.pem (--ca-file) does not exist";
    QTest::newRow("--ca-file empty") << "good.pem" << QStringList {"--ca-file", "EMPTY"} << "" << 2
                                     << "holds no PEM certificate";
    QTest::newRow("CURL_CA_BUNDLE missing")
            << "good.pem" << QStringList() << "CURL_CA_BUNDLE=/none/ca.pem" << 2
            << "/none/ca.pem (CURL_CA_BUNDLE) does not exist";
    // Another port of the same host is another origin: its certificate is still verified.
    QTest::newRow("--insecure, its origin only")
            << "selfsigned.pem" << QStringList {"--insecure"} << "" << 1
            << "/ext.html\tcertificate is self-signed";
}

// Certificates are checked against the authorities the user trusts; a CA file that cannot be used
// is named before any request; --insecure spares the start's origin alone.
void CommandLineTest::certificates_trustedOrNotVerified()
{
    QFETCH(QString, certificate);
    QFETCH(QStringList, options);
    QFETCH(QString, variable);
    QFETCH(int, status);
    QFETCH(QString, said);
    QTemporaryDir folder;
    QVERIFY(QFile(folder.filePath("empty.pem")).open(QIODevice::WriteOnly));
    const auto files = [&](QString text) {
        return text.replace("EMPTY", folder.filePath("empty.pem")).replace("CA", tlsFile("ca.pem"));
    };
    for (QString &option : options)
        option = option == "CA" || option == "EMPTY" ? files(option) : option;
    const EnvironmentSet curlCaBundle("CURL_CA_BUNDLE", QString());
    const EnvironmentSet sslCertFile("SSL_CERT_FILE", QString());
    qunsetenv("CURL_CA_BUNDLE");
    qunsetenv("SSL_CERT_FILE");
    std::optional<EnvironmentSet> given;
    if (!variable.isEmpty())
        given.emplace(qPrintable(variable.section('=', 0, 0)), files(variable.section('=', 1)));
    TlsSite site(certificate);

    const Run run = runHere(QStringList {"--check", site.site.url("/")} + options);

    QCOMPARE(run.status, status);
    QVERIFY2((run.status == 2 ? run.err : run.out).contains(said.toUtf8()),
             (run.err + run.out).constData());
    QCOMPARE(site.site.hits("/a.html"), status == 2 ? 0 : 1);
    if (run.err.contains("does not exist") || run.err.contains("no PEM"))
        QCOMPARE(site.site.hits("/"), 0);
}

void CommandLineTest::insecure_saidInEveryReportButCsv()
{
    TlsSite site("selfsigned.pem");
    QUrl start(site.site.url("/"));
    start.setUserName("ci");
    start.setPassword("s3cret");
    const QString said = QStringLiteral("certificates of https://127.0.0.1:%1 not verified")
                                 .arg(site.site.port());

    for (const char *format : {"text", "json", "html", "junit", "csv"}) {
        const Run run = runHere({"--check", start.toString(), "--insecure", "--format", format});
        QCOMPARE(run.status, int(SomethingBroken));
        QVERIFY2(run.err.contains(said.toUtf8()) && run.err.contains("warning"),
                 run.err.constData());
        QCOMPARE(run.out.contains(said.toUtf8()), QByteArray(format) != "csv");
        QVERIFY(!(run.out + run.err).contains("s3cret"));
    }
}

void CommandLineTest::userAgent_replacesOurName()
{
    Site site;

    runHere({"--check", site.start(), "--user-agent", "Team-Checker/2"});

    QVERIFY(!site.site.received("User-Agent").isEmpty());
    for (const QByteArray &sent :
         site.site.received("User-Agent") + site.other.received("User-Agent"))
        QCOMPARE(sent, "Team-Checker/2");
}

void CommandLineTest::crawlsAll_reachesEveryLevelUpToTheLimit_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("deepestLoaded"); // the deepest level whose page was asked for
    QTest::addColumn<QString>("said");
    // The seventh level's link, to a page that is missing, is checked.
    QTest::newRow("all") << QStringList {"--crawls", "all"} << 8 << "";
    // Three pages crawled, the page the third lists checked, nothing below it asked for.
    QTest::newRow("--max-pages 3") << QStringList {"--crawls", "all", "--max-pages", "3"} << 3
                                   << "stopped at the limit of 3 pages";
}

// A chain of pages seven levels below the start, each also linking back to the start: every level
// is reached, each page asked for once, until the limit of pages.
void CommandLineTest::crawlsAll_reachesEveryLevelUpToTheLimit()
{
    QFETCH(QStringList, options);
    QFETCH(int, deepestLoaded);
    QFETCH(QString, said);
    LoopbackServer site;
    site.page("/", linksPage({"/1.html"}));
    for (int level = 1; level <= 7; ++level)
        site.page(QStringLiteral("/%1.html").arg(level),
                  linksPage({"/", QStringLiteral("/%1.html").arg(level + 1)}));

    const Run run = runHere(QStringList {"--check", site.url("/"), "--format", "json"} + options);

    QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
    const QJsonObject report = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(report.value("notes").toArray().contains(said), !said.isEmpty());
    QCOMPARE(site.hits("/"), 1);
    for (int level = 1; level <= 9; ++level)
        QCOMPARE(site.hits(QStringLiteral("/%1.html").arg(level)), level <= deepestLoaded ? 1 : 0);
}

QTEST_MAIN(CommandLineTest)
#include "tst_commandline.moc"
