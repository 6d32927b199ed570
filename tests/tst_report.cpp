// The report of a check: the found-on store and the four formats read back.
#include "support/csv.h"

#include <report/report.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <site/checkresults.h>
#include <site/linkorigins.h>

using namespace skarnel;

namespace {

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

QTEST_GUILESS_MAIN(ReportTest)
#include "tst_report.moc"
