// The report of a check: the found-on store and the formats read back.
#include "support/csv.h"

#include <report/report.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QXmlStreamReader>

#include <site/checkresults.h>

#include <utility>

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

// Text a page can hold, quoted in a reason: markup, quotes, every format's separators, line breaks,
// controls XML cannot hold, and half a character where an excerpt was cut.
QString excerpt()
{
    return QStringLiteral("shows \"<b>a, b</b> & 'c'\"\tnext\r\nline\x01") + QChar(0)
           + QChar(0xD83D);
}

// A redirected page broken by its text, a fragment row after it, an accepted image reached
// through a redirect, an excluded address and one not checked.
Report hostileReport()
{
    Report r;
    r.start = QStringLiteral("http://site.test/");
    r.time = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::OffsetFromUTC, 2 * 3600);
    r.counts = {3, 2, 5, 2};
    ReportPage redirected = page("http://site.test/a", ReportPage::Result::Broken, excerpt(), 200,
                                 {"http://site.test/"});
    redirected.finalAddress = "http://site.test/b";
    redirected.redirect = RedirectKind::Permanent;
    ReportPage accepted = page("http://site.test/logo.png", ReportPage::Result::Ok,
                               "accepted: HTTP 403", 403, {"http://site.test/a"});
    accepted.kind = AddressKind::Image;
    accepted.finalAddress = "http://site.test/img/logo.png";
    accepted.redirect = RedirectKind::Temporary;
    r.pages = {redirected,
               page("http://site.test/a#top", ReportPage::Result::Broken,
                    "no anchor #top on the page", 200, {"http://site.test/"}),
               accepted,
               page("http://other.test/", ReportPage::Result::NotChecked, "excluded", 0,
                    {"http://site.test/a"}),
               page("http://other.test/app.js", ReportPage::Result::NotChecked, {}, 0,
                    {"http://site.test/a"})};
    r.pages[3].internal = r.pages[4].internal = false;
    r.pages[4].kind = AddressKind::Script;
    return r;
}

// A table cell as a browser shows it.
QString htmlCellText(QString cell)
{
    cell.replace("<br>", " ");
    cell.remove(QRegularExpression("<[^>]*>"));
    for (const auto &[entity, character] :
         {std::pair {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}})
        cell.replace(entity, character);
    return cell;
}

// The rows of a report as a reader of each format gets them back. CSV and JSON: every field in
// the CSV's order. HTML: the cells of each table row, as a browser shows them. JUnit: the
// suite's counts, then each test case's classname, name, outcome, its type and message, its
// text. Text: each line's tab-separated fields.
Rows readBack(ReportFormat format, const QByteArray &bytes)
{
    Rows rows;
    switch (format) {
    case ReportFormat::Csv:
        rows = parseCsv(bytes);
        rows.removeFirst();
        break;
    case ReportFormat::Json:
        for (const QJsonValue &value :
             QJsonDocument::fromJson(bytes).object().value("pages").toArray()) {
            const QJsonObject page = value.toObject();
            QStringList row;
            for (const char *field : {"address", "list", "result", "reason", "http_status"})
                row.append(page.value(field).toVariant().toString());
            row.append(page.value("found_on").toVariant().toStringList().join(' '));
            for (const char *field : {"kind", "final_address", "redirect"})
                row.append(page.value(field).toString(QStringLiteral("(missing)")));
            rows.append(row);
        }
        break;
    case ReportFormat::Html: {
        static const QRegularExpression row("<tr><td>(.*?)</td></tr>",
                                            QRegularExpression::DotMatchesEverythingOption);
        for (const QRegularExpressionMatch &match : row.globalMatch(QString::fromUtf8(bytes))) {
            QStringList cells = match.captured(1).split("</td><td>");
            for (QString &cell : cells)
                cell = htmlCellText(cell);
            rows.append(cells);
        }
        break;
    }
    case ReportFormat::Junit: {
        QXmlStreamReader xml(bytes);
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            if (xml.name() == u"testsuite")
                rows.append({a.value("tests").toString(), a.value("failures").toString(),
                             a.value("errors").toString(), a.value("skipped").toString()});
            else if (xml.name() == u"testcase")
                rows.append({a.value("classname").toString(), a.value("name").toString()});
            else if ((xml.name() == u"failure" || xml.name() == u"skipped") && !rows.isEmpty())
                rows.last() += QStringList {xml.name().toString(), a.value("type").toString(),
                                            a.value("message").toString(), xml.readElementText()};
        }
        if (xml.hasError())
            rows.append({"not XML:", xml.errorString()});
        break;
    }
    case ReportFormat::Text:
        for (const QString &line : QString::fromUtf8(bytes).split('\n'))
            rows.append(line.split('\t'));
        break;
    }
    return rows;
}

} // namespace

class ReportTest final : public QObject
{
    Q_OBJECT

private slots:

    void csv_fieldsReadBackAsWritten_data();
    void csv_fieldsReadBackAsWritten();
    void csv_rowsInListOrderWithTheirResults();
    void json_readsBackWithEveryField();
    void html_selfContainedBrokenFirstAndEscaped();
    void text_aLineEachBrokenPageThenTheCounts();
    void formats_carryHostileTextKindsRedirectsAndVerdicts_data();
    void formats_carryHostileTextKindsRedirectsAndVerdicts();
    void junit_validatesAgainstAntSchema_data();
    void junit_validatesAgainstAntSchema();
    void formatForFile_bySuffix_data();
    void formatForFile_bySuffix();
};

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
    QCOMPARE(rows.at(0), QStringList({"address", "list", "result", "reason", "http_status",
                                      "found_on", "kind", "final_address", "redirect"}));
    QCOMPARE(rows.at(1), QStringList({address, "internal", "broken", reason, "404",
                                      address + " http://site.test/", "page", "", ""}));
}

void ReportTest::csv_rowsInListOrderWithTheirResults()
{
    Report r = sampleReport();
    r.pages[1].foundOnCount = 130;

    const Rows rows = parseCsv(formatReport(r, ReportFormat::Csv));

    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows.at(1), QStringList({"http://site.test/ok", "internal", "ok", "", "200",
                                      "http://site.test/", "page", "", ""}));
    QCOMPARE(
            rows.at(2),
            QStringList({"http://site.test/gone", "internal", "broken", "HTTP 404 Not Found", "404",
                         "http://site.test/ http://site.test/ok (+128 more)", "page", "", ""}));
    QCOMPARE(rows.at(3), QStringList({"http://other.test/", "external", "not checked", "", "",
                                      "http://site.test/ok", "page", "", ""}));
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

void ReportTest::formats_carryHostileTextKindsRedirectsAndVerdicts_data()
{
    QTest::addColumn<ReportFormat>("format");
    QTest::addColumn<Rows>("expected");
    // UTF-8 cannot hold half a character; XML cannot hold the controls either, and reads a line
    // break in text as a line feed.
    const QChar bad = QChar::ReplacementCharacter;
    const QString readable =
            QStringLiteral("shows \"<b>a, b</b> & 'c'\"\tnext\r\nline\x01") + QChar(0) + bad;
    const QString xmlMessage =
            QStringLiteral("shows \"<b>a, b</b> & 'c'\"\tnext\r\nline") + bad + bad + bad;
    const QString xmlText = QString(xmlMessage).replace("\r\n", "\n");
    const QString oneLine =
            QStringLiteral("shows \"<b>a, b</b> & 'c'\" next  line\x01") + QChar(0) + bad;

    const Rows fields = {{"http://site.test/a", "internal", "broken", readable, "200",
                          "http://site.test/", "page", "http://site.test/b", "permanent"},
                         {"http://site.test/a#top", "internal", "broken",
                          "no anchor #top on the page", "200", "http://site.test/", "page", "", ""},
                         {"http://site.test/logo.png", "internal", "ok", "accepted: HTTP 403",
                          "403", "http://site.test/a", "image", "http://site.test/img/logo.png",
                          "temporary"},
                         {"http://other.test/", "external", "not checked", "excluded", "",
                          "http://site.test/a", "page", "", ""},
                         {"http://other.test/app.js", "external", "not checked", "", "",
                          "http://site.test/a", "script", "", ""}};
    QTest::newRow("csv") << ReportFormat::Csv << fields;
    QTest::newRow("json") << ReportFormat::Json << fields;
    QTest::newRow("html") << ReportFormat::Html
                          << Rows {{"http://site.test/a", "internal", "page", "broken", readable,
                                    "200", "permanent → http://site.test/b", "http://site.test/"},
                                   {"http://site.test/a#top", "internal", "page", "broken",
                                    "no anchor #top on the page", "200", "", "http://site.test/"},
                                   {"http://site.test/logo.png", "internal", "image", "ok",
                                    "accepted: HTTP 403", "403",
                                    "temporary → http://site.test/img/logo.png",
                                    "http://site.test/a"},
                                   {"http://other.test/", "external", "page", "not checked",
                                    "excluded", "", "", "http://site.test/a"},
                                   {"http://other.test/app.js", "external", "script", "not checked",
                                    "", "", "", "http://site.test/a"}};
    QTest::newRow("junit")
            << ReportFormat::Junit
            << Rows {{"5", "2", "0", "2"},
                     {"internal", "http://site.test/a", "failure", "broken", xmlMessage,
                      xmlText
                              + "\nredirected permanently to http://site.test/b\n"
                                "found on http://site.test/"},
                     {"internal", "http://site.test/a#top", "failure", "broken",
                      "no anchor #top on the page",
                      "no anchor #top on the page\nfound on http://site.test/"},
                     {"internal", "http://site.test/logo.png"},
                     {"external", "http://other.test/", "skipped", "", "excluded", ""},
                     {"external", "http://other.test/app.js", "skipped", "", "not checked", ""}};
    QTest::newRow("text") << ReportFormat::Text
                          << Rows {{"http://site.test/a",
                                    oneLine + " (redirected permanently to http://site.test/b)",
                                    "found on http://site.test/"},
                                   {"http://site.test/a#top", "no anchor #top on the page",
                                    "found on http://site.test/"},
                                   {"Internal links: 3  External links: 2  Total links: 5  Broken "
                                    "links: 2"},
                                   {""}};
}

void ReportTest::formats_carryHostileTextKindsRedirectsAndVerdicts()
{
    QFETCH(ReportFormat, format);
    QFETCH(Rows, expected);

    const Rows rows = readBack(format, formatReport(hostileReport(), format));

    QCOMPARE(rows.size(), expected.size());
    for (qsizetype i = 0; i < rows.size(); ++i)
        QCOMPARE(rows.at(i), expected.at(i));
}

void ReportTest::junit_validatesAgainstAntSchema_data()
{
    QTest::addColumn<Report>("report");
    QTest::newRow("hostile text, every result") << hostileReport();
    QTest::newRow("empty, no time") << Report {};
}

void ReportTest::junit_validatesAgainstAntSchema()
{
    QFETCH(Report, report);
    const QString xmllint = QStandardPaths::findExecutable("xmllint");
    if (xmllint.isEmpty())
        QSKIP("xmllint is missing (Debian package libxml2-utils, which scripts/deps installs)");
    const QString schema = QFINDTESTDATA("data/junit.xsd");
    QVERIFY(!schema.isEmpty());

    QProcess lint;
    lint.start(xmllint, {"--noout", "--nonet", "--schema", schema, "-"});
    QVERIFY(lint.waitForStarted());
    lint.write(formatReport(report, ReportFormat::Junit));
    lint.closeWriteChannel();
    QVERIFY(lint.waitForFinished(60'000));
    QVERIFY2(lint.exitStatus() == QProcess::NormalExit && lint.exitCode() == 0,
             lint.readAllStandardError().constData());
}

void ReportTest::formatForFile_bySuffix_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<ReportFormat>("format");
    QTest::newRow("csv") << "/tmp/r.csv" << ReportFormat::Csv;
    QTest::newRow("html") << "/tmp/r.html" << ReportFormat::Html;
    QTest::newRow("HTM") << "/tmp/r.HTM" << ReportFormat::Html;
    QTest::newRow("json") << "/tmp/r.json" << ReportFormat::Json;
    QTest::newRow("xml") << "/tmp/r.xml" << ReportFormat::Junit;
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
