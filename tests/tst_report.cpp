// The report of a check: the found-on store, the four formats read back, and File > Save Report.
#include "support/windowharness.h"

#include <check/checkresults.h>
#include <crawl/linkorigins.h>
#include <report/report.h>

#include <QApplication>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextBlock>

namespace {

using Rows = QList<QStringList>;

// Reads CSV as RFC 4180 writes it: fields in double quotes may hold commas, line breaks and
// doubled quotes; every record ends in CRLF.
Rows parseCsv(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    const auto next = [&](qsizetype i) { return i + 1 < text.size() ? text.at(i + 1) : QChar(); };
    Rows rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && next(i) == u'"') {
                field += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row.append(std::exchange(field, {}));
        } else if (c == u'\r' && next(i) == u'\n') {
            row.append(std::exchange(field, {}));
            rows.append(std::exchange(row, {}));
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty())
        rows.append(row + QStringList {field}); // an unterminated last record: a fault
    return rows;
}

ReportPage page(const QString &address, ReportPage::Result result, const QString &reason = {},
                int status = 0, const QStringList &foundOn = {}, qint64 foundOnCount = -1)
{
    ReportPage p;
    p.address = address;
    p.result = result;
    p.reason = reason;
    p.httpStatus = status;
    p.foundOn = foundOn;
    p.foundOnCount = foundOnCount < 0 ? foundOn.size() : foundOnCount;
    return p;
}

Report sampleReport()
{
    Report r;
    r.start = QStringLiteral("http://site.test/");
    r.time = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC);
    r.counts = {2, 1, 3, 1};
    r.pages = {page("http://site.test/ok", ReportPage::Result::Ok, {}, 200, {"http://site.test/"}),
               page("http://site.test/gone", ReportPage::Result::Broken, "HTTP 404 Not Found", 404,
                    {"http://site.test/", "http://site.test/ok"}),
               page("http://other.test/", ReportPage::Result::NotChecked, {}, 0,
                    {"http://site.test/ok"})};
    r.pages[2].internal = false;
    return r;
}

// The address of each line of the broken list, its tooltip.
QString toolTipOfLine(WindowHarness &h, int line)
{
    auto *box = h.get<MultiLineTextBox>("txtBroken");
    return box->lineToolTipAt(
            box->cursorRect(QTextCursor(box->document()->findBlockByNumber(line))).center());
}

// Closes the next message box once it shows, handing its text to `seen`.
void closeMessageBoxWhenShown(QString *seen)
{
    QTimer::singleShot(10, [seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return closeMessageBoxWhenShown(seen);
        *seen = box->text();
        box->close();
    });
}

// Answers the next file dialog with `path`.
void answerFileDialog(const QString &path)
{
    QTimer::singleShot(10, [path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return answerFileDialog(path);
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

} // namespace

class ReportTest final : public QObject
{
    Q_OBJECT

private slots:
    void origins_keepFirstHundredPagesAndCountAll();
    void origins_countEachPageOnceAcrossCrawls();

    void csv_fieldsReadBackAsWritten_data();
    void csv_fieldsReadBackAsWritten();
    void csv_rowsInListOrderWithTheirResults();
    void json_readsBackWithEveryField();
    void html_selfContainedBrokenFirstAndEscaped();
    void text_aLineEachBrokenPageThenTheCounts();
    void formatForFile_bySuffix_data();
    void formatForFile_bySuffix();

    void window_reportAfterCrawlAloneIsNotChecked();
    void window_reportAfterStoppedCheckKeepsWhatWasChecked();
    void window_saveReportMenuWritesTheChosenFile();
    void window_failedSaveSaysSoAndKeepsResults();
    void window_tooltipNamesUpToFivePagesFoundOn();
};

void ReportTest::origins_keepFirstHundredPagesAndCountAll()
{
    LinkOrigins origins;
    for (int i = 0; i < 250; ++i) {
        const QString page = QStringLiteral("http://site.test/p%1").arg(i);
        origins.note("http://site.test/target", page);
        origins.note("http://site.test/other", page);
        origins.note("http://site.test/target", page); // twice on one page
    }
    const LinkOrigins::Origins *found = origins.find("http://site.test/target");
    QVERIFY(found);
    QCOMPARE(found->pages.size(), LinkOrigins::KeptPages);
    QCOMPARE(found->pages.first(), "http://site.test/p0");
    QCOMPARE(found->pages.last(), "http://site.test/p99");
    QCOMPARE(found->count, 250);
    QVERIFY(!origins.find("http://site.test/unseen"));

    origins.clear();
    QVERIFY(!origins.find("http://site.test/target"));
}

// A crawl run again without New meets the same pages again.
void ReportTest::origins_countEachPageOnceAcrossCrawls()
{
    LinkOrigins origins;
    for (int crawl = 0; crawl < 2; ++crawl) {
        for (int i = 0; i < 150; ++i)
            origins.note("http://site.test/target", QStringLiteral("http://site.test/p%1").arg(i));
    }
    QCOMPARE(origins.find("http://site.test/target")->count, 150);
    QCOMPARE(origins.find("http://site.test/target")->pages.size(), 100);
}

void ReportTest::csv_fieldsReadBackAsWritten_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("reason");
    QTest::newRow("plain") << "http://site.test/a"
                           << "HTTP 404 Not Found";
    QTest::newRow("comma") << "http://site.test/a,b"
                           << "the text shows \"a, b\"";
    QTest::newRow("quotes") << "http://site.test/\"q\""
                            << "the text shows \"\"\"";
    QTest::newRow("non-ASCII") << "http://site.test/café/日本"
                               << "the text shows \"Seite nicht gefunden – ß\"";
    QTest::newRow("line break") << "http://site.test/x"
                                << "the text shows \"one\r\ntwo\"";
    QTest::newRow("leading space") << " http://site.test/x"
                                   << " ";
}

void ReportTest::csv_fieldsReadBackAsWritten()
{
    QFETCH(QString, address);
    QFETCH(QString, reason);
    Report r;
    r.pages = {
            page(address, ReportPage::Result::Broken, reason, 404, {address, "http://site.test/"})};

    const Rows rows = parseCsv(formatReport(r, ReportFormat::Csv));

    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0),
             QStringList({"address", "list", "result", "reason", "http_status", "found_on"}));
    QCOMPARE(rows.at(1), QStringList({address, "internal", "broken", reason, "404",
                                      address + " http://site.test/"}));
}

void ReportTest::csv_rowsInListOrderWithTheirResults()
{
    Report r = sampleReport();
    r.pages[1].foundOnCount = 130;

    const Rows rows = parseCsv(formatReport(r, ReportFormat::Csv));

    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows.at(1), QStringList({"http://site.test/ok", "internal", "ok", "", "200",
                                      "http://site.test/"}));
    QCOMPARE(rows.at(2),
             QStringList({"http://site.test/gone", "internal", "broken", "HTTP 404 Not Found",
                          "404", "http://site.test/ http://site.test/ok (+128 more)"}));
    QCOMPARE(rows.at(3), QStringList({"http://other.test/", "external", "not checked", "", "",
                                      "http://site.test/ok"}));
}

void ReportTest::json_readsBackWithEveryField()
{
    Report r = sampleReport();
    r.pages[0].address = "http://site.test/\"ü\",x";

    QJsonParseError error;
    const QJsonDocument document =
            QJsonDocument::fromJson(formatReport(r, ReportFormat::Json), &error);

    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject root = document.object();
    QCOMPARE(root.value("start").toString(), r.start);
    QCOMPARE(QDateTime::fromString(root.value("time").toString(), Qt::ISODate), r.time);
    const QJsonObject counts = root.value("counts").toObject();
    QCOMPARE(counts.value("internal").toInt(), 2);
    QCOMPARE(counts.value("external").toInt(), 1);
    QCOMPARE(counts.value("total").toInt(), 3);
    QCOMPARE(counts.value("broken").toInt(), 1);
    const QJsonArray pages = root.value("pages").toArray();
    QCOMPARE(pages.size(), 3);
    QCOMPARE(pages.at(0).toObject().value("address").toString(), r.pages[0].address);
    const QJsonObject gone = pages.at(1).toObject();
    QCOMPARE(gone.value("list").toString(), "internal");
    QCOMPARE(gone.value("result").toString(), "broken");
    QCOMPARE(gone.value("reason").toString(), "HTTP 404 Not Found");
    QCOMPARE(gone.value("http_status").toInt(), 404);
    QCOMPARE(gone.value("found_on").toArray().toVariantList(),
             QVariantList({"http://site.test/", "http://site.test/ok"}));
    QCOMPARE(gone.value("found_on_count").toInt(), 2);
    const QJsonObject other = pages.at(2).toObject();
    QCOMPARE(other.value("list").toString(), "external");
    QCOMPARE(other.value("result").toString(), "not checked");
    QVERIFY(other.value("http_status").isNull());
}

void ReportTest::html_selfContainedBrokenFirstAndEscaped()
{
    Report r = sampleReport();
    r.pages[1].address = "http://site.test/<script>alert(\"x\")</script>&";
    r.pages[1].reason = "the text shows \"<b>\"";

    const QString html = QString::fromUtf8(formatReport(r, ReportFormat::Html));

    QVERIFY(!html.contains("<script"));
    QVERIFY(!html.contains("src="));
    QVERIFY(!html.contains("<link"));
    QVERIFY(html.contains(
            "http://site.test/&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;"));
    QVERIFY(html.contains("the text shows &quot;&lt;b&gt;&quot;"));
    QVERIFY(html.contains(
            "<a href=\"http://site.test/ok\">http://site.test/ok</a>")); // a referring page
    QVERIFY(html.contains("2024-05-06"));
    for (const char *count : {"Internal links</th><td>2", "External links</th><td>1",
                              "Total links</th><td>3", "Broken links</th><td>1"})
        QVERIFY2(html.contains(count), count);
    // The broken page's row, in the first table; the others' rows after it.
    const qsizetype brokenTable = html.indexOf("<table class=\"broken\"");
    const qsizetype brokenRow = html.indexOf("<tr><td><a href=\"http://site.test/&lt;script");
    const qsizetype othersTable = html.indexOf("<table class=\"others\"");
    const qsizetype okRow = html.indexOf("<tr><td><a href=\"http://site.test/ok\"");
    QVERIFY(brokenTable > 0);
    QVERIFY(brokenTable < brokenRow);
    QVERIFY(brokenRow < othersTable);
    QVERIFY(othersTable < okRow);
}

void ReportTest::text_aLineEachBrokenPageThenTheCounts()
{
    Report r = sampleReport();
    r.pages[1].foundOnCount = 102;

    const QStringList lines = QString::fromUtf8(formatReport(r, ReportFormat::Text)).split('\n');

    QCOMPARE(lines,
             QStringList({"http://site.test/gone\tHTTP 404 Not Found\tfound on http://site.test/ "
                          "http://site.test/ok (+100 more)",
                          "Internal links: 2  External links: 1  Total links: 3  Broken links: 1",
                          ""}));
}

void ReportTest::formatForFile_bySuffix_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<ReportFormat>("format");
    QTest::newRow("csv") << "/tmp/r.csv" << ReportFormat::Csv;
    QTest::newRow("html") << "/tmp/r.html" << ReportFormat::Html;
    QTest::newRow("HTM") << "/tmp/r.HTM" << ReportFormat::Html;
    QTest::newRow("json") << "/tmp/r.json" << ReportFormat::Json;
    QTest::newRow("other") << "/tmp/r.txt" << ReportFormat::Csv;
    QTest::newRow("none") << "/tmp/report" << ReportFormat::Csv;
}

void ReportTest::formatForFile_bySuffix()
{
    QFETCH(QString, path);
    QFETCH(ReportFormat, format);
    QCOMPARE(reportFormatForFile(path), format);
}

void ReportTest::window_reportAfterCrawlAloneIsNotChecked()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/",
                        {"http://site.test/a", "http://other.test/x", "mailto:x@y.z"});
    h.documents.setPage("http://site.test/a", {"http://other.test/x", "http://site.test/b"});
    h.crawl("http://site.test/");

    const Report r = h.window.report();

    QCOMPARE(r.start, "http://site.test/");
    QCOMPARE(r.counts.internal, 2);
    QCOMPARE(r.counts.external, 1);
    QCOMPARE(r.counts.total, 3);
    QCOMPARE(r.counts.broken, 0);
    QCOMPARE(r.pages.size(), 3);
    QStringList seen;
    for (const ReportPage &p : r.pages) {
        QCOMPARE(p.result, ReportPage::Result::NotChecked);
        seen.append(p.address + (p.internal ? " internal " : " external ") + p.foundOn.join(' '));
    }
    QCOMPARE(seen,
             QStringList({"http://site.test/a internal http://site.test/",
                          "http://site.test/b internal http://site.test/a",
                          "http://other.test/x external http://site.test/ http://site.test/a"}));

    h.trigger("mnuNew");
    QVERIFY(!h.window.origins().find("http://site.test/a"));
}

void ReportTest::window_reportAfterStoppedCheckKeepsWhatWasChecked()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/",
                        {"http://site.test/a", "http://site.test/b", "http://site.test/c"});
    h.crawl("http://site.test/");
    h.transfer.setAnswer("http://site.test/a", 404, "Not Found", "");
    h.transfer.setPage("http://site.test/b", "fine");
    h.transfer.setPage("http://site.test/c", "fine");
    h.transfer.holdPage("http://site.test/b");
    h.transfer.onWait = [&](const QString &address) {
        if (address == "http://site.test/b")
            soon([&] { h.trigger("mnuForceStop"); });
    };
    h.check();

    const Report r = h.window.report();

    QCOMPARE(r.pages.size(), 3);
    QCOMPARE(r.pages[0].result, ReportPage::Result::Broken);
    QCOMPARE(r.pages[0].reason, "HTTP 404 Not Found");
    QCOMPARE(r.pages[0].httpStatus, 404);
    QCOMPARE(r.pages[1].result, ReportPage::Result::NotChecked);
    QCOMPARE(r.pages[2].result, ReportPage::Result::NotChecked);
    QCOMPARE(r.counts.broken, 1);
}

void ReportTest::window_saveReportMenuWritesTheChosenFile()
{
    QTemporaryDir folder;
    WindowHarness h;
    h.documents.setPage("http://site.test/", {"http://site.test/a"});
    h.crawl("http://site.test/");

    answerFileDialog(folder.filePath("site.html"));
    h.trigger("mnuSaveReport");
    // A name that begins no other file's, so that the dialog's completion cannot pick that one.
    answerFileDialog(folder.filePath("plain"));
    h.trigger("mnuSaveReport");

    QFile html(folder.filePath("site.html"));
    QVERIFY(html.open(QIODevice::ReadOnly));
    QVERIFY(html.readAll().startsWith("<!DOCTYPE html>"));
    QFile csv(folder.filePath("plain.csv")); // no suffix: CSV, named so
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(parseCsv(csv.readAll()).value(1).value(0), "http://site.test/a");
}

void ReportTest::window_failedSaveSaysSoAndKeepsResults()
{
    QTemporaryDir folder;
    WindowHarness h;
    h.documents.setPage("http://site.test/", {"http://site.test/a"});
    h.crawl("http://site.test/");
    h.transfer.setAnswer("http://site.test/a", 500, "Internal Server Error", "");
    h.check();
    const QString unwritable = folder.filePath("no-such-folder/report.csv");

    QString error;
    QVERIFY(!h.window.saveReport(unwritable, &error));
    QVERIFY(!error.isEmpty());

    QString said;
    closeMessageBoxWhenShown(&said);
    answerFileDialog(unwritable);
    h.trigger("mnuSaveReport");
    QVERIFY2(said.contains("could not be saved") && said.contains(error), qPrintable(said));
    QCOMPARE(h.lines("txtBroken"), QStringList({"http://site.test/a"}));
    QVERIFY(h.window.results().find("http://site.test/a"));
    QCOMPARE(h.entries("lstInternal"), QStringList({"http://site.test/a"}));
}

void ReportTest::window_tooltipNamesUpToFivePagesFoundOn()
{
    WindowHarness h;
    QStringList pages;
    for (int i = 0; i < 8; ++i)
        pages.append(QStringLiteral("http://site.test/p%1").arg(i));
    h.documents.setPage("http://site.test/", pages);
    for (const QString &p : pages)
        h.documents.setPage(p, {"http://other.test/dead"});
    h.crawl("http://site.test/");
    for (const QString &p : pages)
        h.transfer.setPage(p, "fine");
    h.transfer.setAnswer("http://other.test/dead", 404, "Not Found", "");
    h.check();
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));
    h.trigger("mnuCheckBroken");

    QCOMPARE(toolTipOfLine(h, 0),
             "HTTP 404 Not Found\nFound on:\n" + pages.first(5).join('\n') + "\nand 3 more");
}

QTEST_MAIN(ReportTest)
#include "tst_report.moc"
