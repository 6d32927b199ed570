// A built folder checked without a server: from the command line and the window, against the same
// files served over HTTP on loopback.
#include "support/commandlinerun.h"
#include "support/loopbackserver.h"
#include "support/networkwindow.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace skarnel;

namespace {

// The sets of a JSON report, each address without `prefix` and a trailing index.html.
struct Sets
{
    QSet<QString> internal;
    QSet<QString> external;
    QSet<QString> broken;
};

Sets setsOf(const QByteArray &json, const QString &prefix)
{
    Sets sets;
    const QJsonArray pages = QJsonDocument::fromJson(json).object().value("pages").toArray();
    for (const QJsonValue &value : pages) {
        const QJsonObject page = value.toObject();
        QString address = page.value("address").toString();
        if (address.startsWith(prefix))
            address = address.sliced(prefix.size());
        if (address == u"index.html" || address.endsWith(u"/index.html"))
            address.chop(int(qstrlen("index.html")));
        (page.value("list").toString() == u"internal" ? sets.internal : sets.external)
                .insert(address);
        if (page.value("result").toString() == u"broken")
            sets.broken.insert(address);
    }
    return sets;
}

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A small built site: pages, a folder with its index, a missing page, a page linked through a
// symbolic link, a FIFO, a link to /dev/zero, a page with an error text, fragments, links that try
// to climb out of the folder, and links to another server.
struct Fixture
{
    explicit Fixture(const QString &external)
    {
        root = dir.filePath("site");
        const QByteArray ext = external.toUtf8();
        write(root + "/index.html",
              "<!doctype html><title>home</title>"
              "<a href='page.html'>p</a> <a href='sub/'>s</a> <a href='sub'>s</a>"
              "<a href='missing.html'>m</a> <a href='alias.html'>a</a> <a href='fifo.html'>f</a>"
              "<a href='zero.html'>z</a> <a href='error.html'>e</a>"
              "<a href='page.html#part'>f</a> <a href='page.html#nowhere'>f</a>"
              "<a href='../../../page.html'>up</a>"
              "<a href='"
                      + ext + "/ext.html'>x</a> <a href='" + ext + "/gone.html'>x</a>");
        write(root + "/page.html",
              "<!doctype html><title>page</title><h2 id='part'>Part</h2>"
              "<a href='/index.html'>home</a> <a href='sub/deeper.html'>deeper</a>");
        write(root + "/error.html", "<!doctype html><title>oops</title><p>Page not found</p>");
        write(root + "/sub/index.html",
              "<!doctype html><title>sub</title><a href='deeper.html'>d</a>"
              "<a href='../page.html'>p</a> <a href='/nosuch/'>n</a>");
        write(root + "/sub/deeper.html", "<!doctype html><title>deeper</title><a href='/'>h</a>");
        QVERIFY(QFile::link(root + "/page.html", root + "/alias.html"));
        QVERIFY(QFile::link("/dev/zero", root + "/zero.html"));
        QCOMPARE(::mkfifo(QFile::encodeName(root + "/fifo.html").constData(), 0600), 0);
        QDir().mkpath(root + "/nosuch");
    }

    // The same files on `server`, as a web server serves the folder.
    void serve(LoopbackServer &server) const
    {
        for (const char *path : {"index.html", "page.html", "error.html", "sub/index.html",
                                 "sub/deeper.html", "alias.html"}) {
            QFile file(root + "/" + path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray body = file.readAll();
            server.page("/" + QString::fromLatin1(path), body);
            if (QString::fromLatin1(path).endsWith("index.html"))
                server.page("/" + QString::fromLatin1(path).chopped(10), body);
        }
        server.redirect("/sub", server.url("/sub/"), 301);
        server.page("/nosuch/", {}, "text/html", 403);
    }

    QTemporaryDir dir;
    QString root;
};

const QStringList Options = {"--crawls", "5", "--fragments", "--format", "json"};

} // namespace

class TestFolderRun : public QObject
{
    Q_OBJECT

private slots:
    // The folder as it stands gives the sets the same files give served over HTTP.
    void folderMatchesServed()
    {
        LoopbackServer other(QStringLiteral("127.0.0.2"));
        other.page("/ext.html", "<!doctype html><title>ext</title>");
        Fixture fixture(other.url(QString()));
        LoopbackServer served;
        fixture.serve(served);

        const Run asFolder = runHere(QStringList {"--check", fixture.root} + Options);
        QCOMPARE(asFolder.status, 1);
        const Run overHttp = runHere(QStringList {"--check", served.url("/")} + Options);
        QCOMPARE(overHttp.status, 1);

        const QString prefix = QUrl::fromLocalFile(fixture.root + "/").toString();
        const Sets folder = setsOf(asFolder.out, prefix);
        const Sets server = setsOf(overHttp.out, served.url("/"));
        QCOMPARE(folder.internal, server.internal);
        QCOMPARE(folder.external, server.external);
        QCOMPARE(folder.broken, server.broken);

        const QSet<QString> broken = {"missing.html",         "fifo.html",         "zero.html",
                                      "error.html",           "page.html#nowhere", "nosuch/",
                                      other.url("/gone.html")};
        QCOMPARE(folder.broken, broken);
        QVERIFY(folder.internal.contains("sub/deeper.html"));
        QVERIFY(folder.internal.contains("alias.html"));
        QCOMPARE(folder.external, QSet<QString>({other.url("/ext.html"), other.url("/gone.html")}));
        QCOMPARE(QJsonDocument::fromJson(asFolder.out).object().value("start").toString(), prefix);
    }

    // --site-url: links written in full to it are the folder's; a file:// link outside the folder
    // is external and checked for its existence alone; a page started from is read as such.
    void siteUrlAndOutsideFiles()
    {
        QTemporaryDir dir;
        const QString root = dir.filePath("public");
        write(dir.filePath("outside.txt"), "here");
        const QString outside = QUrl::fromLocalFile(dir.filePath("outside.txt")).toString();
        write(root + "/start.html", "<a href='https://www.example.org/a.html'>a</a>"
                                    "<a href='%2e%2e/%2E%2E/../other.html'>o</a>"
                                    "<a href='"
                                            + outside.toUtf8() + "'>x</a><a href='"
                                            + outside.toUtf8() + ".gone'>x</a>");
        write(root + "/a.html", "<a href='/start.html'>s</a>");
        write(root + "/other.html", "fine");

        const Run run = runHere({"--check", QUrl::fromLocalFile(root + "/start.html").toString(),
                                 "--site-url", "https://www.example.org/", "--format", "json"});
        const QString prefix = QUrl::fromLocalFile(root + "/").toString();
        const Sets sets = setsOf(run.out, prefix);
        QCOMPARE(run.status, 1);
        QCOMPARE(sets.internal, QSet<QString>({"a.html", "other.html", "start.html"}));
        QCOMPARE(sets.external, QSet<QString>({outside, outside + ".gone"}));
        QCOMPARE(sets.broken, QSet<QString>({outside + ".gone"}));
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("says");
        QTest::newRow("no such folder")
                << QStringList {"--check", "no/such/folder"} << "no such folder or file";
        QTest::newRow("not HTML") << QStringList {"--check", "notes.txt"}
                                  << "not a folder or an HTML file";
        QTest::newRow("a FIFO") << QStringList {"--check", "fifo.html"}
                                << "not a folder or an HTML file";
        QTest::newRow("site url ftp") << QStringList {"--check", ".", "--site-url", "ftp://x.org/"}
                                      << "not an http or https address";
        QTest::newRow("site url words") << QStringList {"--check", ".", "--site-url", "example.org"}
                                        << "not an http or https address";
    }
    void badInput()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, says);
        QTemporaryDir dir;
        write(dir.filePath("notes.txt"), "notes");
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("fifo.html")).constData(), 0600), 0);
        const QString working = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const Run run = runHere(options);
        QDir::setCurrent(working);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(says.toUtf8()), run.err.constData());
        QVERIFY(run.err.contains("Try 'skarnel --help'."));
    }

    // The window takes a file:// address in its address box and crawls the folder.
    void windowCrawlsFolder()
    {
        QTemporaryDir dir;
        write(dir.filePath("index.html"),
              "<a href='a.html'>a</a><a href='http://127.0.0.1:1/'>x</a>");
        write(dir.filePath("a.html"), "<a href='b.html'>b</a>");
        write(dir.filePath("b.html"), "<a href='c.html'>c</a>");
        NetworkWindow harness;
        // Two levels a press: the start page, then the pages it links to.
        const QString start = QUrl::fromLocalFile(dir.path() + "/").toString();
        harness.crawl(start);
        QCOMPARE(harness.entries("lstInternal"), QStringList({start + "a.html", start + "b.html"}));
        QCOMPARE(harness.entries("lstExternal"), QStringList({"http://127.0.0.1:1/"}));
        harness.crawl(dir.path());
        QCOMPARE(harness.entries("lstInternal"),
                 QStringList({start + "a.html", start + "b.html", start + "c.html"}));
    }
};

QTEST_MAIN(TestFolderRun)
#include "tst_folderrun.moc"
