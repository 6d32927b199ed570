#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <kinds/addresskind.h>
#include <kinds/redirectkind.h>

class QIODevice;

namespace skarnel {

struct SiteModel;

// What a check of one site found, as plain data: what the window shows, with each page's
// verdict and the pages it was found on. Written as CSV, HTML, JSON, JUnit XML or text.

struct ReportPage
{
    enum class Result { Broken, Ok, NotChecked };

    QString address;
    bool internal = true;
    AddressKind kind = AddressKind::Page;
    Result result = Result::NotChecked;
    // Why it has its result, in words a user reads: why it is broken ("HTTP 404 Not Found", an
    // excerpt of the page's text, "no anchor #id on the page"), "accepted: HTTP 403" for a status
    // the user accepts, "excluded" for an address the user excluded; may be empty otherwise. It
    // may hold any character a page can.
    QString reason;
    int httpStatus = 0;   // 0: no answer, or not checked
    QString finalAddress; // the address after redirects; empty when the answer came without one
    RedirectKind redirect = RedirectKind::None; // the kind of the first redirect
    QStringList foundOn;                        // the first of the pages it was found on
    qint64 foundOnCount = 0;                    // all of them
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
    // The internal list, then the external one, each in list order; an address whose fragment
    // names no anchor on its page has a row of its own, "PAGE#id", right after the page's row.
    QList<ReportPage> pages;
    // What the run says of itself besides its pages, one line each ("certificates of ORIGIN not
    // verified", "stopped at the limit of N pages", "sitemap ADDRESS: REASON"): the text's last
    // lines, the HTML's heading, the JSON's "notes", JUnit's properties and system-err; CSV holds
    // rows only.
    QStringList notes;
};

// The report of what `site` holds now, the counts as its counters have them: one page a listed
// address, the internal list first, each followed by the #fragments the check looked for in it;
// an address the check did not reach is "not checked".
Report buildReport(const SiteModel &site, const QString &start, const QDateTime &time);

enum class ReportFormat { Text, Csv, Json, Html, Junit };

// The format that a file's name asks for by its suffix: .html and .htm, .json, .xml (JUnit), else
// CSV.
ReportFormat reportFormatForFile(const QString &path);

// Every format is UTF-8 and writes every row, fragment rows too, the same way; text from a page
// (a reason, an address) is escaped as the format needs, so nothing in it can break the format.
// CSV (RFC 4180, CRLF line ends, a header row): address, list, result, reason, http_status,
// found_on (the pages separated by spaces, then "(+N more)" for those not kept), kind,
// final_address, redirect.
// HTML: one page with nothing from elsewhere: the site, the time, the counts, and a table of the
// broken pages, then one of the others (address, list, kind, result, reason, HTTP status,
// redirect as "permanent → FINAL", found on).
// JSON: {"start", "time", "counts", "pages"}, each page with the CSV's fields, found_on an array,
// and found_on_count.
// JUnit XML, as Ant's schema has it: one test suite "skarnel", one test case a row (classname the
// list, name the address); a broken row fails with its reason, a row not checked is skipped.
// Characters XML 1.0 cannot hold become U+FFFD.
// Text: a line for each broken page, "address<TAB>reason<TAB>found on PAGES", the reason ending
// in " (redirected permanently|temporarily to FINAL)" when it was redirected, tabs and line breaks
// inside a field made spaces; then the counts.
QByteArray formatReport(const Report &report, ReportFormat format);

// Writes the report to `device` as formatReport() makes it, a row at a time, so that a large
// report is never held whole in memory. Stops at the first write that fails and returns false:
// the device's errorString() says why. Does not flush the device.
bool writeReport(const Report &report, ReportFormat format, QIODevice &device);

// Writes the whole report or nothing: a file of that name is replaced only once the new one is
// complete. A device or a pipe of that name (/dev/stdout, a FIFO) is written in place, never
// replaced. On failure returns false with the reason in `error`.
bool writeReport(const Report &report, ReportFormat format, const QString &path, QString *error);

// "result" of a page as the reports write it: broken, ok, not checked.
QString resultName(ReportPage::Result result);

} // namespace skarnel
