#include "report.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSysInfo>
#include <QXmlStreamWriter>

#include <site/sitemodel.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace skarnel {

namespace {

ReportPage pageOf(const SiteModel &site, const QString &address, bool internal, AddressKind kind)
{
    ReportPage page;
    page.address = address;
    page.internal = internal;
    page.kind = kind;
    if (const PageVerdict *verdict = site.results.find(address)) {
        page.result = verdict->excluded ? ReportPage::Result::NotChecked
                      : verdict->broken ? ReportPage::Result::Broken
                                        : ReportPage::Result::Ok;
        page.reason = verdict->reason;
        page.httpStatus = verdict->httpStatus;
        page.finalAddress = verdict->finalAddress;
        page.redirect = verdict->firstRedirect;
    }
    if (const LinkOrigins::Origins *found = site.origins.find(address)) {
        page.foundOn = found->pages;
        page.foundOnCount = found->count;
    }
    return page;
}

// A listed address's row, then a row for each of its #fragments the check looked for.
void appendRows(Report &report, const SiteModel &site, const QString &address, bool internal)
{
    const AddressKind kind = site.kindOf(address);
    report.pages.append(pageOf(site, address, internal, kind));
    const auto fragments = site.fragments.constFind(address);
    if (fragments == site.fragments.cend())
        return;
    for (const QString &fragment : *fragments) {
        const QString whole = address + QLatin1Char('#') + fragment;
        if (site.results.find(whole))
            report.pages.append(pageOf(site, whole, internal, kind));
    }
}

// A surrogate without its pair (text cut in the middle of a character) becomes U+FFFD: UTF-8
// cannot hold it, and JSON would carry it as an escape that many readers refuse. Text without one
// is returned as it is, unshared.
bool isLone(const QString &text, qsizetype i)
{
    const QChar c = text.at(i);
    if (c.isHighSurrogate())
        return i + 1 == text.size() || !text.at(i + 1).isLowSurrogate();
    return c.isLowSurrogate() && (i == 0 || !text.at(i - 1).isHighSurrogate());
}

bool hasLone(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isSurrogate() && isLone(text, i))
            return true;
    }
    return false;
}

QString wellFormed(const QString &text)
{
    QString out = text;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isSurrogate() && isLone(text, i))
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

void makeWellFormed(QStringList &texts)
{
    // Most lists need nothing: they stay shared with the site's, which a large report relies on.
    if (std::any_of(texts.cbegin(), texts.cend(), hasLone)) {
        for (QString &text : texts)
            text = wellFormed(text);
    }
}

// The report's own lines made well-formed; its pages are made so one at a time, as they are
// written, so that a large report is never copied whole.
Report wellFormedHead(const Report &report)
{
    Report head;
    head.start = wellFormed(report.start);
    head.time = report.time;
    head.counts = report.counts;
    head.notes = report.notes;
    makeWellFormed(head.notes);
    return head;
}

ReportPage wellFormed(ReportPage page)
{
    for (QString *text : {&page.address, &page.reason, &page.finalAddress})
        *text = wellFormed(*text);
    makeWellFormed(page.foundOn);
    return page;
}

// Writes to a device, a row at a time, as UTF-8; after the first write that fails it writes
// nothing more, `ok` stays false and `cause` keeps the system's error number, if any: a file that
// took part of a write says nothing of why it refused the rest ("Unknown error").
class Out
{
public:
    explicit Out(QIODevice &device)
        : device(device)
    {
    }

    Out &operator<<(const QByteArray &bytes)
    {
        if (!ok)
            return *this;
        errno = 0;
        ok = device.write(bytes) == bytes.size();
        if (!ok)
            cause = errno;
        return *this;
    }
    Out &operator<<(const QString &text) { return *this << text.toUtf8(); }
    Out &operator<<(const char *text) { return *this << QByteArray(text); }

    bool ok = true;
    int cause = 0;

private:
    QIODevice &device;
};

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

// "redirected permanently to FINAL", or nothing for a page that came without redirect.
QString redirectPhrase(const ReportPage &page)
{
    if (page.finalAddress.isEmpty())
        return {};
    QString adverb;
    if (page.redirect == RedirectKind::Permanent)
        adverb = QStringLiteral("permanently ");
    else if (page.redirect == RedirectKind::Temporary)
        adverb = QStringLiteral("temporarily ");
    return QStringLiteral("redirected %1to %2").arg(adverb, page.finalAddress);
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

void csv(const Report &report, Out &out)
{
    out << "address,list,result,reason,http_status,found_on,kind,final_address,redirect\r\n";
    for (qsizetype i = 0; i < report.pages.size() && out.ok; ++i) {
        const ReportPage page = wellFormed(report.pages.at(i));
        const QStringList fields = {page.address,
                                    listName(page),
                                    resultName(page.result),
                                    page.reason,
                                    statusText(page),
                                    foundOnText(page),
                                    addressKindName(page.kind),
                                    page.finalAddress,
                                    redirectKindName(page.redirect)};
        QStringList quoted;
        for (const QString &field : fields)
            quoted.append(csvField(field));
        out << quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
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

// A field of a text line: tabs separate the fields and line breaks the lines, so inside a field
// both become spaces.
QString oneLine(QString field)
{
    for (QChar &c : field) {
        switch (c.unicode()) {
        case u'\t':
        case u'\n':
        case u'\v':
        case u'\f':
        case u'\r':
        case 0x85:
        case 0x2028:
        case 0x2029:
            c = QLatin1Char(' ');
            break;
        default:
            break;
        }
    }
    return field;
}

void text(const Report &report, Out &out)
{
    for (qsizetype i = 0; i < report.pages.size() && out.ok; ++i) {
        if (report.pages.at(i).result != ReportPage::Result::Broken)
            continue;
        const ReportPage page = wellFormed(report.pages.at(i));
        QString reason = page.reason;
        if (const QString redirected = redirectPhrase(page); !redirected.isEmpty())
            reason += QStringLiteral(" (%1)").arg(redirected);
        out << oneLine(page.address) + QLatin1Char('\t') + oneLine(reason)
                        + QStringLiteral("\tfound on ") + oneLine(foundOnText(page))
                        + QLatin1Char('\n');
    }
    out << countsLine(report.counts) + QLatin1Char('\n');
    for (const QString &note : report.notes)
        out << oneLine(note) + QLatin1Char('\n');
}

QJsonObject jsonPage(const ReportPage &page)
{
    QJsonObject object;
    object.insert(QStringLiteral("address"), page.address);
    object.insert(QStringLiteral("list"), listName(page));
    object.insert(QStringLiteral("result"), resultName(page.result));
    object.insert(QStringLiteral("reason"), page.reason);
    object.insert(QStringLiteral("http_status"),
                  page.httpStatus > 0 ? QJsonValue(page.httpStatus) : QJsonValue(QJsonValue::Null));
    object.insert(QStringLiteral("found_on"), QJsonArray::fromStringList(page.foundOn));
    object.insert(QStringLiteral("found_on_count"), page.foundOnCount);
    object.insert(QStringLiteral("kind"), addressKindName(page.kind));
    object.insert(QStringLiteral("final_address"), page.finalAddress);
    object.insert(QStringLiteral("redirect"), redirectKindName(page.redirect));
    return object;
}

// The document QJsonDocument would make of the whole, written a page at a time: the root without
// its pages is made whole and the pages written into its empty "pages" array, each page as its own
// document indented to its depth.
void json(const Report &report, Out &out)
{
    QJsonObject counts;
    counts.insert(QStringLiteral("internal"), report.counts.internal);
    counts.insert(QStringLiteral("external"), report.counts.external);
    counts.insert(QStringLiteral("total"), report.counts.total);
    counts.insert(QStringLiteral("broken"), report.counts.broken);
    QJsonObject root;
    root.insert(QStringLiteral("start"), report.start);
    root.insert(QStringLiteral("time"), isoTime(report.time));
    root.insert(QStringLiteral("counts"), counts);
    root.insert(QStringLiteral("pages"), QJsonArray());
    if (!report.notes.isEmpty())
        root.insert(QStringLiteral("notes"), QJsonArray::fromStringList(report.notes));
    const QByteArray whole = QJsonDocument(root).toJson(QJsonDocument::Indented);
    // A line break inside a string is escaped, so this is the array itself.
    static const QByteArray emptyPages = "\n    \"pages\": [\n    ]";
    const qsizetype at = whole.indexOf(emptyPages);
    if (report.pages.isEmpty() || at < 0) {
        out << whole;
        return;
    }
    const qsizetype inside = at + emptyPages.size() - 5; // before "    ]"
    out << whole.first(inside);
    static const QByteArray indent(8, ' ');
    for (qsizetype i = 0; i < report.pages.size() && out.ok; ++i) {
        QByteArray object = QJsonDocument(jsonPage(wellFormed(report.pages.at(i))))
                                    .toJson(QJsonDocument::Indented);
        object.chop(1); // its last line break
        object.replace('\n', "\n" + indent);
        out << indent + object + (i + 1 < report.pages.size() ? ",\n" : "\n");
    }
    out << whole.sliced(inside);
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// Only a web address becomes a link: a report opened in a browser runs nothing when clicked.
QString linkTo(const QString &address)
{
    if (!address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        && !address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return escaped(address);
    return QStringLiteral("<a href=\"%1\">%1</a>").arg(escaped(address));
}

// "permanent → FINAL", the final address a link.
QString redirectCell(const ReportPage &page)
{
    if (page.finalAddress.isEmpty())
        return {};
    const QString arrow =
            page.redirect == RedirectKind::None
                    ? QString()
                    : escaped(redirectKindName(page.redirect)) + QStringLiteral(" → ");
    return arrow + linkTo(page.finalAddress);
}

void htmlTable(const Report &report, bool broken, Out &out)
{
    const auto inTable = [broken](const ReportPage &page) {
        return (page.result == ReportPage::Result::Broken) == broken;
    };
    const qsizetype count = std::count_if(report.pages.cbegin(), report.pages.cend(), inTable);
    const QString title = broken ? QStringLiteral("Broken pages") : QStringLiteral("Other pages");
    out << QStringLiteral("<h2>%1 (%2)</h2>\n").arg(title).arg(count);
    if (count == 0) {
        out << "<p>None.</p>\n";
        return;
    }
    out << QStringLiteral("<table class=\"%1\">\n<tr><th>Address</th><th>List</th><th>Kind</th>"
                          "<th>Result</th><th>Reason</th><th>HTTP status</th><th>Redirect</th>"
                          "<th>Found on</th></tr>\n")
                    .arg(broken ? QStringLiteral("broken") : QStringLiteral("others"));
    for (qsizetype i = 0; i < report.pages.size() && out.ok; ++i) {
        if (!inTable(report.pages.at(i)))
            continue;
        const ReportPage page = wellFormed(report.pages.at(i));
        QStringList foundOn;
        for (const QString &referrer : page.foundOn)
            foundOn.append(linkTo(referrer));
        if (const qint64 more = notKept(page))
            foundOn.append(escaped(moreText(more)));
        out << QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</"
                              "td><td>%7</td><td>%8</td></tr>\n")
                        .arg(linkTo(page.address), listName(page),
                             escaped(addressKindName(page.kind)), resultName(page.result),
                             escaped(page.reason), statusText(page), redirectCell(page),
                             foundOn.join(QStringLiteral("<br>")));
    }
    out << "</table>\n";
}

void html(const Report &report, Out &out)
{
    const ReportCounts &c = report.counts;
    QString head =
            QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                           "<title>Skarnel report: %1</title>\n<style>\n"
                           "body { font-family: sans-serif; margin: 1em 2em; }\n"
                           "table { border-collapse: collapse; }\n"
                           "th, td { border: 1px solid #bbb; padding: 0.2em 0.5em; text-align: "
                           "left; vertical-align: top; }\n"
                           "td { overflow-wrap: anywhere; }\n"
                           "table.broken th { background: #f3d6d6; }\n"
                           "</style>\n</head>\n<body>\n");
    head = head.arg(escaped(report.start));
    head += QStringLiteral("<h1>Links of %1</h1>\n").arg(linkTo(report.start));
    for (const QString &note : report.notes)
        head += QStringLiteral("<p class=\"note\"><strong>%1</strong></p>\n").arg(escaped(note));
    head += QStringLiteral("<p>Checked <time datetime=\"%1\">%2</time></p>\n")
                    .arg(escaped(isoTime(report.time)),
                         escaped(report.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    head += QStringLiteral("<table class=\"counts\">\n<tr><th>Internal links</th><td>%1</td></tr>\n"
                           "<tr><th>External links</th><td>%2</td></tr>\n"
                           "<tr><th>Total links</th><td>%3</td></tr>\n"
                           "<tr><th>Broken links</th><td>%4</td></tr>\n</table>\n")
                    .arg(c.internal)
                    .arg(c.external)
                    .arg(c.total)
                    .arg(c.broken);
    if (!report.notes.isEmpty()) {
        head += QStringLiteral("<ul class=\"notes\">\n");
        for (const QString &note : report.notes)
            head += QStringLiteral("<li>%1</li>\n").arg(escaped(note));
        head += QStringLiteral("</ul>\n");
    }
    out << head;
    htmlTable(report, true, out);
    htmlTable(report, false, out);
    out << "</body>\n</html>\n";
}

// XML 1.0 holds tab, line feed, carriage return, U+0020 to U+D7FF, U+E000 to U+FFFD and the
// characters past U+FFFF; any other (a control, a surrogate without its pair, U+FFFE, U+FFFF)
// becomes U+FFFD, so that nothing a page holds can make the document unreadable.
QString xmlText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
            continue;
        }
        const char16_t u = c.unicode();
        const bool allowed = u == u'\t' || u == u'\n' || u == u'\r' || (u >= 0x20 && u < 0xD800)
                             || (u >= 0xE000 && u <= 0xFFFD);
        out += allowed ? c : QChar(QChar::ReplacementCharacter);
    }
    return out;
}

// What a failure says below its message: how the page was reached and where it was found.
QString failureText(const ReportPage &page)
{
    QStringList lines = {page.reason};
    if (const QString redirected = redirectPhrase(page); !redirected.isEmpty())
        lines.append(redirected);
    if (const QString foundOn = foundOnText(page); !foundOn.isEmpty())
        lines.append(QStringLiteral("found on ") + foundOn);
    return lines.join(QLatin1Char('\n'));
}

// Ant's schema: the timestamp without a zone (written in UTC; the time with its offset is a
// property), every count, time and host name present, properties, system-out and system-err
// present even when empty. Nothing here times the pages, so every time is 0.
bool junit(const Report &report, QIODevice &device)
{
    const auto count = [&](ReportPage::Result result) {
        return std::count_if(report.pages.cbegin(), report.pages.cend(),
                             [&](const ReportPage &page) { return page.result == result; });
    };
    const QDateTime time =
            report.time.isValid() ? report.time.toUTC() : QDateTime::currentDateTimeUtc();
    const QString host = xmlText(QSysInfo::machineHostName()).trimmed();

    QXmlStreamWriter xml(&device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("skarnel"));
    xml.writeAttribute(QStringLiteral("package"), QStringLiteral("skarnel"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("timestamp"),
                       time.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")));
    xml.writeAttribute(QStringLiteral("hostname"),
                       host.isEmpty() ? QStringLiteral("localhost") : host);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(report.pages.size()));
    xml.writeAttribute(QStringLiteral("failures"),
                       QString::number(count(ReportPage::Result::Broken)));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("skipped"),
                       QString::number(count(ReportPage::Result::NotChecked)));
    xml.writeAttribute(QStringLiteral("time"), QStringLiteral("0"));

    xml.writeStartElement(QStringLiteral("properties"));
    QList<std::pair<QString, QString>> properties = {
            {QStringLiteral("start"), report.start},
            {QStringLiteral("time"), isoTime(report.time)}};
    for (const QString &note : report.notes)
        properties.append({QStringLiteral("note"), note});
    for (const auto &[name, value] : properties) {
        xml.writeEmptyElement(QStringLiteral("property"));
        xml.writeAttribute(QStringLiteral("name"), name);
        xml.writeAttribute(QStringLiteral("value"), xmlText(value));
    }
    xml.writeEndElement();

    for (qsizetype i = 0; i < report.pages.size() && !xml.hasError(); ++i) {
        const ReportPage page = wellFormed(report.pages.at(i));
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("name"), xmlText(page.address));
        xml.writeAttribute(QStringLiteral("classname"), listName(page));
        xml.writeAttribute(QStringLiteral("time"), QStringLiteral("0"));
        switch (page.result) {
        case ReportPage::Result::Broken:
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), xmlText(page.reason));
            xml.writeAttribute(QStringLiteral("type"), QStringLiteral("broken"));
            xml.writeCharacters(xmlText(failureText(page)));
            xml.writeEndElement();
            break;
        case ReportPage::Result::NotChecked:
            xml.writeEmptyElement(QStringLiteral("skipped"));
            xml.writeAttribute(QStringLiteral("message"), page.reason.isEmpty()
                                                                  ? resultName(page.result)
                                                                  : xmlText(page.reason));
            break;
        case ReportPage::Result::Ok:
            break;
        }
        xml.writeEndElement();
    }

    xml.writeTextElement(QStringLiteral("system-out"), QString());
    xml.writeTextElement(QStringLiteral("system-err"),
                         xmlText(report.notes.join(QLatin1Char('\n'))));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
}

} // namespace

Report buildReport(const SiteModel &site, const QString &start, const QDateTime &time)
{
    Report report;
    report.start = start;
    report.time = time;
    report.counts = {site.internalCount.value(), site.externalCount.value(),
                     site.totalCount.value(), site.brokenCount.value()};
    report.pages.reserve(site.internal.count() + site.external.count());
    for (const QString &address : site.internal.entries())
        appendRows(report, site, address, true);
    for (const QString &address : site.external.entries())
        appendRows(report, site, address, false);
    return report;
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
    if (suffix == u"xml")
        return ReportFormat::Junit;
    return ReportFormat::Csv;
}

namespace {

// writeReport() to a device, with the system's error number when a write failed.
bool writeTo(const Report &report, ReportFormat format, QIODevice &device, int *cause)
{
    // The pages are shared, not copied: each is made well-formed as it is written.
    Report checked = wellFormedHead(report);
    checked.pages = report.pages;
    if (format == ReportFormat::Junit)
        return junit(checked, device);
    Out out(device);
    switch (format) {
    case ReportFormat::Csv:
        csv(checked, out);
        break;
    case ReportFormat::Html:
        html(checked, out);
        break;
    case ReportFormat::Json:
        json(checked, out);
        break;
    case ReportFormat::Junit:
    case ReportFormat::Text:
        text(checked, out);
        break;
    }
    *cause = out.cause;
    return out.ok;
}

} // namespace

bool writeReport(const Report &report, ReportFormat format, QIODevice &device)
{
    int cause = 0;
    return writeTo(report, format, device, &cause);
}

QByteArray formatReport(const Report &report, ReportFormat format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    writeReport(report, format, buffer);
    buffer.close();
    return bytes;
}

namespace {

QString errorOf(const QFileDevice &file, int cause)
{
    return cause != 0 ? QString::fromLocal8Bit(std::strerror(cause)) : file.errorString();
}

} // namespace

bool writeReport(const Report &report, ReportFormat format, const QString &path, QString *error)
{
    int cause = 0;
    // A device or a pipe is written straight: a file saved in its place would replace it.
    if (const QFileInfo target(path); target.exists() && !target.isFile()) {
        QFile file(path);
        bool written = file.open(QIODevice::WriteOnly);
        if (written) {
            written = writeTo(report, format, file, &cause);
            written = file.flush() && written;
        }
        if (!written && error)
            *error = errorOf(file, cause);
        return written;
    }
    // Written to a file beside it, renamed over it only once whole; removed on failure.
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && writeTo(report, format, file, &cause)
                         && file.commit();
    if (!written && error)
        *error = errorOf(file, cause);
    return written;
}

} // namespace skarnel
