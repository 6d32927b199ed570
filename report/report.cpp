#include "report.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <site/sitemodel.h>

#include <algorithm>

namespace skarnel {

namespace {

ReportPage pageOf(const QString &address, bool internal, const CheckResults &results,
                  const LinkOrigins &origins)
{
    ReportPage page;
    page.address = address;
    page.internal = internal;
    if (const PageVerdict *verdict = results.find(address)) {
        page.result = verdict->broken ? ReportPage::Result::Broken : ReportPage::Result::Ok;
        page.reason = verdict->reason;
        page.httpStatus = verdict->httpStatus;
    }
    if (const LinkOrigins::Origins *found = origins.find(address)) {
        page.foundOn = found->pages;
        page.foundOnCount = found->count;
    }
    return page;
}

QString listName(const ReportPage &page)
{
    return page.internal ? QStringLiteral("internal") : QStringLiteral("external");
}

QString statusText(const ReportPage &page)
{
    return page.httpStatus > 0 ? QString::number(page.httpStatus) : QString();
}

qint64 notKept(const ReportPage &page)
{
    return std::max<qint64>(0, page.foundOnCount - page.foundOn.size());
}

QString moreText(qint64 more)
{
    return QStringLiteral("(+%1 more)").arg(more);
}

// With the offset from UTC, so that the time is the same wherever the report is read.
QString isoTime(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

QString foundOnText(const ReportPage &page)
{
    QString text = page.foundOn.join(QLatin1Char(' '));
    if (const qint64 more = notKept(page)) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += moreText(more);
    }
    return text;
}

QString csvField(const QString &text)
{
    static const QString needsQuotes = QStringLiteral(",\"\r\n");
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return needsQuotes.contains(c); }))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray csv(const Report &report)
{
    QString out = QStringLiteral("address,list,result,reason,http_status,found_on\r\n");
    for (const ReportPage &page : report.pages) {
        const QStringList fields = {page.address, listName(page),   resultName(page.result),
                                    page.reason,  statusText(page), foundOnText(page)};
        QStringList quoted;
        for (const QString &field : fields)
            quoted.append(csvField(field));
        out += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

QString countsLine(const ReportCounts &counts)
{
    return QStringLiteral(
                   "Internal links: %1  External links: %2  Total links: %3  Broken links: %4")
            .arg(counts.internal)
            .arg(counts.external)
            .arg(counts.total)
            .arg(counts.broken);
}

QByteArray text(const Report &report)
{
    QString out;
    for (const ReportPage &page : report.pages) {
        if (page.result == ReportPage::Result::Broken)
            out += page.address + QLatin1Char('\t') + page.reason + QStringLiteral("\tfound on ")
                   + foundOnText(page) + QLatin1Char('\n');
    }
    out += countsLine(report.counts) + QLatin1Char('\n');
    return out.toUtf8();
}

QByteArray json(const Report &report)
{
    QJsonArray pages;
    for (const ReportPage &page : report.pages) {
        QJsonObject object;
        object.insert(QStringLiteral("address"), page.address);
        object.insert(QStringLiteral("list"), listName(page));
        object.insert(QStringLiteral("result"), resultName(page.result));
        object.insert(QStringLiteral("reason"), page.reason);
        object.insert(QStringLiteral("http_status"), page.httpStatus > 0
                                                             ? QJsonValue(page.httpStatus)
                                                             : QJsonValue(QJsonValue::Null));
        object.insert(QStringLiteral("found_on"), QJsonArray::fromStringList(page.foundOn));
        object.insert(QStringLiteral("found_on_count"), page.foundOnCount);
        pages.append(object);
    }
    QJsonObject counts;
    counts.insert(QStringLiteral("internal"), report.counts.internal);
    counts.insert(QStringLiteral("external"), report.counts.external);
    counts.insert(QStringLiteral("total"), report.counts.total);
    counts.insert(QStringLiteral("broken"), report.counts.broken);
    QJsonObject root;
    root.insert(QStringLiteral("start"), report.start);
    root.insert(QStringLiteral("time"), isoTime(report.time));
    root.insert(QStringLiteral("counts"), counts);
    root.insert(QStringLiteral("pages"), pages);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString linkTo(const QString &address)
{
    return QStringLiteral("<a href=\"%1\">%1</a>").arg(escaped(address));
}

QString htmlTable(const Report &report, bool broken)
{
    QString rows;
    qsizetype count = 0;
    for (const ReportPage &page : report.pages) {
        if ((page.result == ReportPage::Result::Broken) != broken)
            continue;
        ++count;
        QStringList foundOn;
        for (const QString &referrer : page.foundOn)
            foundOn.append(linkTo(referrer));
        if (const qint64 more = notKept(page))
            foundOn.append(escaped(moreText(more)));
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</"
                               "td></tr>\n")
                        .arg(linkTo(page.address), listName(page), resultName(page.result),
                             escaped(page.reason), statusText(page),
                             foundOn.join(QStringLiteral("<br>")));
    }
    const QString title = broken ? QStringLiteral("Broken pages") : QStringLiteral("Other pages");
    QString out = QStringLiteral("<h2>%1 (%2)</h2>\n").arg(title).arg(count);
    if (count == 0)
        return out + QStringLiteral("<p>None.</p>\n");
    return out
           + QStringLiteral("<table class=\"%1\">\n<tr><th>Address</th><th>List</th><th>Result</th>"
                            "<th>Reason</th><th>HTTP status</th><th>Found on</th></tr>\n")
                     .arg(broken ? QStringLiteral("broken") : QStringLiteral("others"))
           + rows + QStringLiteral("</table>\n");
}

QByteArray html(const Report &report)
{
    const ReportCounts &c = report.counts;
    QString out =
            QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                           "<title>Skarnel report: %1</title>\n<style>\n"
                           "body { font-family: sans-serif; margin: 1em 2em; }\n"
                           "table { border-collapse: collapse; }\n"
                           "th, td { border: 1px solid #bbb; padding: 0.2em 0.5em; text-align: "
                           "left; vertical-align: top; }\n"
                           "td { overflow-wrap: anywhere; }\n"
                           "table.broken th { background: #f3d6d6; }\n"
                           "</style>\n</head>\n<body>\n");
    out = out.arg(escaped(report.start));
    out += QStringLiteral("<h1>Links of %1</h1>\n").arg(linkTo(report.start));
    out += QStringLiteral("<p>Checked <time datetime=\"%1\">%2</time></p>\n")
                   .arg(escaped(isoTime(report.time)),
                        escaped(report.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    out += QStringLiteral("<table class=\"counts\">\n<tr><th>Internal links</th><td>%1</td></tr>\n"
                          "<tr><th>External links</th><td>%2</td></tr>\n"
                          "<tr><th>Total links</th><td>%3</td></tr>\n"
                          "<tr><th>Broken links</th><td>%4</td></tr>\n</table>\n")
                   .arg(c.internal)
                   .arg(c.external)
                   .arg(c.total)
                   .arg(c.broken);
    out += htmlTable(report, true);
    out += htmlTable(report, false);
    out += QStringLiteral("</body>\n</html>\n");
    return out.toUtf8();
}

} // namespace

Report buildReport(const QString &start, const QDateTime &time, const ReportCounts &counts,
                   const QStringList &internal, const QStringList &external,
                   const CheckResults &results, const LinkOrigins &origins)
{
    Report report;
    report.start = start;
    report.time = time;
    report.counts = counts;
    report.pages.reserve(internal.size() + external.size());
    for (const QString &address : internal)
        report.pages.append(pageOf(address, true, results, origins));
    for (const QString &address : external)
        report.pages.append(pageOf(address, false, results, origins));
    return report;
}

Report buildReport(const SiteModel &site, const QString &start, const QDateTime &time)
{
    const ReportCounts counts {site.internalCount.value(), site.externalCount.value(),
                               site.totalCount.value(), site.brokenCount.value()};
    return buildReport(start, time, counts, site.internal.entries(), site.external.entries(),
                       site.results, site.origins);
}

QString resultName(ReportPage::Result result)
{
    switch (result) {
    case ReportPage::Result::Broken:
        return QStringLiteral("broken");
    case ReportPage::Result::Ok:
        return QStringLiteral("ok");
    case ReportPage::Result::NotChecked:
        break;
    }
    return QStringLiteral("not checked");
}

ReportFormat reportFormatForFile(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"html" || suffix == u"htm")
        return ReportFormat::Html;
    if (suffix == u"json")
        return ReportFormat::Json;
    return ReportFormat::Csv;
}

QByteArray formatReport(const Report &report, ReportFormat format)
{
    switch (format) {
    case ReportFormat::Csv:
        return csv(report);
    case ReportFormat::Html:
        return html(report);
    case ReportFormat::Json:
        return json(report);
    case ReportFormat::Text:
        break;
    }
    return text(report);
}

bool writeReport(const Report &report, ReportFormat format, const QString &path, QString *error)
{
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly)
                         && file.write(formatReport(report, format)) >= 0 && file.commit();
    if (!written && error)
        *error = file.errorString();
    return written;
}

} // namespace skarnel
