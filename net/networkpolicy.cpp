#include "networkpolicy.h"

#include <QFile>

namespace skarnel {

namespace {

constexpr QByteArrayView HttpOnlyPrefix = "#HttpOnly_";

// The characters of a token, which a header name is made of.
bool isTokenCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
           || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isFlag(const QByteArray &field)
{
    return field == "TRUE" || field == "FALSE";
}

} // namespace

Checked<QByteArray> parseHeader(const QString &text)
{
    const QByteArray line = text.toUtf8();
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return {{}, QStringLiteral("a header is written \"Name: value\"; this one has no colon")};
    const QByteArray name = line.first(colon).trimmed();
    if (name.isEmpty())
        return {{}, QStringLiteral("a header needs a name before its colon")};
    // The name is no secret; the value may be, and is never repeated.
    if (!std::all_of(name.begin(), name.end(), isTokenCharacter))
        return {{},
                QStringLiteral("the header name \"%1\" has a character a name cannot have")
                        .arg(QString::fromUtf8(name.toPercentEncoding(" :")))};
    if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
        return {{},
                QStringLiteral("the header %1 holds a line break or a NUL")
                        .arg(QString::fromUtf8(name))};
    return {line, {}};
}

Checked<QList<QByteArray>> readCookieFile(const QString &path, const QString &host)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{},
                QStringLiteral("cannot read the cookie file %1: %2").arg(path, file.errorString())};
    const QString wanted = host.toLower();
    QList<QByteArray> cookies;
    int number = 0;
    for (QByteArray line : file.readAll().split('\n')) {
        ++number;
        if (line.endsWith('\r'))
            line.chop(1);
        const bool httpOnly = line.startsWith(HttpOnlyPrefix);
        if (line.trimmed().isEmpty() || (line.startsWith('#') && !httpOnly))
            continue;
        const QList<QByteArray> fields =
                line.sliced(httpOnly ? HttpOnlyPrefix.size() : 0).split('\t');
        bool isNumber = false;
        if (fields.size() != 7 || fields[0].isEmpty() || !isFlag(fields[1]) || fields[2].isEmpty()
            || !isFlag(fields[3]) || (fields[4].toLongLong(&isNumber), !isNumber)
            || fields[5].isEmpty())
            return {{},
                    QStringLiteral("line %1 of the cookie file %2 is not a cookie: a Netscape "
                                   "cookie file has seven fields separated by tabs")
                            .arg(number)
                            .arg(path)};
        QString domain = QString::fromUtf8(fields[0]).toLower();
        const bool toSubdomains = fields[1] == "TRUE" || domain.startsWith(u'.');
        if (domain.startsWith(u'.'))
            domain.remove(0, 1);
        if (wanted == domain || (toSubdomains && wanted.endsWith(u'.' + domain)))
            cookies.append(line);
    }
    return {cookies, {}};
}

QByteArray cookieForHostOnly(const QByteArray &line, const QString &host)
{
    const bool httpOnly = line.startsWith(HttpOnlyPrefix);
    QList<QByteArray> fields = line.sliced(httpOnly ? HttpOnlyPrefix.size() : 0).split('\t');
    if (fields.size() != 7)
        return {};
    fields[0] = host.toUtf8();
    fields[1] = "FALSE";
    return (httpOnly ? HttpOnlyPrefix.toByteArray() : QByteArray()) + fields.join('\t');
}

} // namespace skarnel
