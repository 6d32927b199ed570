#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <folder/builtfolder.h>
#include <sys/stat.h>

using namespace skarnel;

class BuiltFolderTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void read_data();
    void read();
    void read_sameFileUnderTwoAddresses_sameIdentity();
    void read_cap();
    void fileOutsideTheFolder_existenceAlone();
    void addressForms_data();
    void addressForms();
    void start_data();
    void start();

private:
    void write(const QString &name, const QByteArray &content);

    QTemporaryDir folder;
    QTemporaryDir outside;
};

void BuiltFolderTest::write(const QString &name, const QByteArray &content)
{
    const QString path = folder.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// Each file holds its own name.
void BuiltFolderTest::initTestCase()
{
    QVERIFY(folder.isValid() && outside.isValid());
    write("index.html", "index.html");
    write("a/page.html", "a/page.html");
    write("a/b/index.htm", "a/b/index.htm");
    write("sp ace.html", "sp ace.html");
    write("notes.txt", "notes.txt");
    QVERIFY(QDir(folder.path()).mkpath("empty"));
    QVERIFY(::mkfifo(QFile::encodeName(folder.filePath("fifo.html")).constData(), 0600) == 0);
    QFile jquery(outside.filePath("jquery.js"));
    QVERIFY(jquery.open(QIODevice::WriteOnly));
    jquery.write("outside");
    jquery.close();
    QVERIFY(QFile::link(jquery.fileName(), folder.filePath("jquery.js")));
    QVERIFY(QFile::link("/dev/zero", folder.filePath("zero.html")));
    QVERIFY(QFile::link("index.html", folder.filePath("same.html")));
}

void BuiltFolderTest::read_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("finalAddress");

    const QString site = QStringLiteral("http://site.invalid");
    QTest::newRow("root") << site + "/"
                          << "index.html" << QString() << site + "/";
    QTest::newRow("root without its slash") << site << "index.html" << QString() << site + "/";
    QTest::newRow("page, query dropped") << site + "/a/page.html?x=1#f"
                                         << "a/page.html" << QString() << site + "/a/page.html";
    QTest::newRow("folder without its slash: index.htm")
            << site + "/a/b"
            << "a/b/index.htm" << QString() << site + "/a/b/";
    QTest::newRow("folder without an index")
            << site + "/empty/" << QString() << "no index file" << site + "/empty/";
    QTest::newRow("missing") << site + "/missing.html" << QString() << "no such file" << QString();
    QTest::newRow("a file as a folder")
            << site + "/a/page.html/" << QString() << "no such file" << QString();
    QTest::newRow("dot segments stop at the root") << site + "/../../index.html"
                                                   << "index.html" << QString() << QString();
    QTest::newRow("encoded dot segments stop at the root")
            << site + "/a/%2e%2e/%2E%2E/%2e%2e/index.html"
            << "index.html" << QString() << QString();
    QTest::newRow("encoded slashes and dots stop at the root")
            << site + "/%2e%2e%2f%2e%2e%2f" + QFileInfo(outside.path()).fileName() + "/jquery.js"
            << QString() << "no such file" << QString();
    QTest::newRow("encoded space") << site + "/sp%20ace.html"
                                   << "sp ace.html" << QString() << QString();
    QTest::newRow("encoded NUL") << site + "/index.html%00.txt" << QString() << "no such file"
                                 << QString();
    QTest::newRow("not HTML, still read") << site + "/notes.txt"
                                          << "notes.txt" << QString() << QString();
    QTest::newRow("FIFO") << site + "/fifo.html" << QString() << "not a regular file" << QString();
    QTest::newRow("link to a device")
            << site + "/zero.html" << QString() << "not a regular file" << QString();
    QTest::newRow("link out of the folder, followed") << site + "/jquery.js"
                                                      << "outside" << QString() << QString();
    QTest::newRow("file address inside")
            << QUrl::fromLocalFile(folder.filePath("a/page.html")).toString() << "a/page.html"
            << QString() << site + "/a/page.html";
    QTest::newRow("file address outside")
            << QUrl::fromLocalFile(outside.filePath("jquery.js")).toString() << QString()
            << "outside the folder" << QString();
    QTest::newRow("another host") << "http://other.invalid/index.html" << QString()
                                  << "outside the folder" << QString();
    QTest::newRow("another port") << "http://site.invalid:8080/index.html" << QString()
                                  << "outside the folder" << QString();
    QTest::newRow("file address of another host")
            << "file://elsewhere.test" + folder.filePath("index.html") << QString()
            << "outside the folder" << QString();
}

void BuiltFolderTest::read()
{
    QFETCH(QString, address);
    QFETCH(QString, body);
    QFETCH(QString, failure);
    QFETCH(QString, finalAddress);
    const FolderRead read = BuiltFolder(folder.path()).read(QUrl(address), 1 << 20);
    QCOMPARE(read.failure, failure);
    QCOMPARE(QString::fromUtf8(read.body), body);
    QCOMPARE(read.isHtml(), read.ok() && (body.endsWith(u".htm") || body.endsWith(u".html")));
    if (!finalAddress.isEmpty())
        QCOMPARE(read.finalAddress.toString(), finalAddress);
}

void BuiltFolderTest::read_sameFileUnderTwoAddresses_sameIdentity()
{
    const BuiltFolder built(folder.path());
    const FolderRead root = built.read(QUrl("http://site.invalid/"), 1 << 20);
    const FolderRead same = built.read(QUrl("http://site.invalid/same.html"), 1 << 20);
    const FolderRead other = built.read(QUrl("http://site.invalid/a/page.html"), 1 << 20);
    QVERIFY(root.identity.isValid());
    QCOMPARE(same.identity, root.identity);
    QVERIFY(other.identity != root.identity);
}

void BuiltFolderTest::read_cap()
{
    const BuiltFolder built(folder.path());
    const FolderRead capped = built.read(QUrl("http://site.invalid/index.html"), 5);
    QCOMPARE(capped.body, "index");
    QVERIFY(capped.capped);
    const FolderRead exact = built.read(QUrl("http://site.invalid/index.html"), 10);
    QCOMPARE(exact.body, "index.html");
    QVERIFY(!exact.capped);
}

void BuiltFolderTest::fileOutsideTheFolder_existenceAlone()
{
    QCOMPARE(fileAbsence(QUrl::fromLocalFile(outside.filePath("jquery.js"))), QString());
    QCOMPARE(fileAbsence(QUrl::fromLocalFile(folder.filePath("fifo.html"))), QString());
    QCOMPARE(fileAbsence(QUrl::fromLocalFile(outside.filePath("gone.js"))), "no such file");
    QCOMPARE(fileAbsence(QUrl("file://elsewhere.test/x")), "not a local file");
}

void BuiltFolderTest::addressForms_data()
{
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("served");
    QTest::addColumn<QString>("shown");

    QTest::newRow("stand-in root") << QString() << "http://site.invalid/"
                                   << "file:///f/";
    QTest::newRow("page, query and fragment")
            << QString() << "http://site.invalid/a/b%20c.html?x=1#top"
            << "file:///f/a/b%20c.html?x=1#top";
    QTest::newRow("site with a path") << "https://example.test/docs"
                                      << "https://example.test/docs/a.html"
                                      << "file:///f/a.html";
    QTest::newRow("default port") << "https://example.test:443/"
                                  << "https://example.test/a.html"
                                  << "file:///f/a.html";
    QTest::newRow("outside the site's path") << "https://example.test/docs/"
                                             << "https://example.test/css/a.css" << QString();
    QTest::newRow("another scheme") << "https://example.test/"
                                    << "http://example.test/a.html" << QString();
}

void BuiltFolderTest::addressForms()
{
    QFETCH(QString, site);
    QFETCH(QString, served);
    QFETCH(QString, shown);
    const BuiltFolder built(QStringLiteral("/f"), site.isEmpty() ? folderStandInSite : QUrl(site));
    QCOMPARE(built.shown(QUrl(served)).toString(QUrl::FullyEncoded), shown);
    QCOMPARE(built.contains(QUrl(served)), !shown.isEmpty());
    if (!shown.isEmpty()) {
        QVERIFY(built.contains(QUrl(shown)));
        QCOMPARE(built.served(QUrl(shown)).toString(QUrl::FullyEncoded), served);
    }
}

void BuiltFolderTest::start_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("siteUrl");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("error");

    const QString name = QFileInfo(folder.path()).fileName();
    QTest::newRow("folder, relative") << name << QString() << "http://site.invalid/" << QString();
    QTest::newRow("page, absolute") << folder.filePath("a/page.html") << QString()
                                    << "http://site.invalid/page.html" << QString();
    QTest::newRow("file address, site with a path")
            << QUrl::fromLocalFile(folder.filePath("a/page.html")).toString()
            << "https://example.test/docs/"
            << "https://example.test/docs/page.html" << QString();
    QTest::newRow("not HTML") << folder.filePath("notes.txt") << QString() << QString()
                              << "not a folder or an HTML file (.html, .htm, .xhtml): "
                                         + folder.filePath("notes.txt");
    QTest::newRow("missing") << folder.filePath("gone") << QString() << QString()
                             << "no such folder or file: " + folder.filePath("gone");
    QTest::newRow("site address not of the web")
            << name << "ftp://example.test/" << QString()
            << "not an http or https address: ftp://example.test/";
    QTest::newRow("site address without a host")
            << name << "http:///x" << QString() << "not an http or https address: http:///x";
}

void BuiltFolderTest::start()
{
    QFETCH(QString, text);
    QFETCH(QString, siteUrl);
    QFETCH(QString, start);
    QFETCH(QString, error);
    const FolderStart checked =
            checkFolderStart(text, siteUrl, QFileInfo(folder.path()).absolutePath());
    QCOMPARE(checked.error, error);
    QCOMPARE(checked.start.toString(), start);
    QVERIFY(isFolderStart(text, true));
}

QTEST_GUILESS_MAIN(BuiltFolderTest)
#include "tst_builtfolder.moc"
