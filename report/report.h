#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace skarnel {

class CheckResults;
class LinkOrigins;
struct SiteModel;

// What a check of one site found, as plain data: what the window shows, with each page's
// verdict and the pages it was found on. Written as CSV, HTML, JSON or text.

struct ReportPage
{
    enum class Result { Broken, Ok, NotChecked };

    QString address;
    bool internal = true;
    Result result = Result::NotChecked;
    QString reason;          // why it is broken; empty otherwise
    int httpStatus = 0;      // 0: no answer, or not checked
    QStringList foundOn;     // the first of the pages it was found on
    qint64 foundOnCount = 0; // all of them
};

struct ReportCounts
{
    qint64 internal = 0;
    qint64 external = 0;
    qint64 total = 0;
    qint64 broken = 0;
};

struct Report
{
    QString start;
    QDateTime time;
    ReportCounts counts;
    QList<ReportPage> pages; // the internal list, then the external one, each in list order
};

// One page a listed address, the internal list first; an address the check did not reach is
// "not checked".
Report buildReport(const QString &start, const QDateTime &time, const ReportCounts &counts,
                   const QStringList &internal, const QStringList &external,
                   const CheckResults &results, const LinkOrigins &origins);

// The report of what `site` holds now, the counts as its counters have them.
Report buildReport(const SiteModel &site, const QString &start, const QDateTime &time);

enum class ReportFormat { Text, Csv, Json, Html };

// The format that a file's name asks for by its suffix: .html and .htm, .json, else CSV.
ReportFormat reportFormatForFile(const QString &path);

// Every format is UTF-8.
// CSV (RFC 4180, CRLF line ends, a header row): address, list, result, reason, http_status,
// found_on (the pages separated by spaces, then "(+N more)" for those not kept).
// HTML: one page with nothing from elsewhere: the site, the time, the counts, and a table of the
// broken pages, then one of the others.
// JSON: {"start", "time", "counts", "pages"}, each page with the CSV's fields, found_on an array,
// and found_on_count.
// Text: a line for each broken page, "address<TAB>reason<TAB>found on PAGES", then the counts.
QByteArray formatReport(const Report &report, ReportFormat format);

// Writes the whole report or nothing: a file of that name is replaced only once the new one is
// complete. On failure returns false with the reason in `error`.
bool writeReport(const Report &report, ReportFormat format, const QString &path, QString *error);

// "result" of a page as the reports write it: broken, ok, not checked.
QString resultName(ReportPage::Result result);

} // namespace skarnel
