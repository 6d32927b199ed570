#include "networkpolicy.h"

#include <html/webaddress.h>

#include <QFile>
#include <QFileInfo>

#include <openssl/pem.h>
#include <openssl/x509.h>

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

int defaultPort(const QString &scheme)
{
    return scheme == u"https" ? 443 : 80;
}

// A cookie's path matches a request's when it is the request's path or a folder above it.
bool pathMatches(const QByteArray &cookiePath, const QByteArray &requestPath)
{
    if (requestPath == cookiePath)
        return true;
    return requestPath.startsWith(cookiePath)
           && (cookiePath.endsWith('/') || requestPath[cookiePath.size()] == '/');
}

// How many PEM certificates the file at `path` holds; -1 when it cannot be read.
int certificatesIn(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray pem = file.readAll();
    BIO *bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    int count = 0;
    while (X509 *certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        X509_free(certificate);
        ++count;
    }
    BIO_free(bio);
    return count;
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

QByteArray cookieHeader(const QList<QByteArray> &cookies, const QUrl &address, const QDateTime &now)
{
    QByteArray requestPath = address.path(QUrl::FullyEncoded).toUtf8();
    if (requestPath.isEmpty())
        requestPath = "/";
    const bool secure = address.scheme() == u"https";
    QByteArray header;
    for (const QByteArray &line : cookies) {
        const bool httpOnly = line.startsWith(HttpOnlyPrefix);
        const QList<QByteArray> fields =
                line.sliced(httpOnly ? HttpOnlyPrefix.size() : 0).split('\t');
        if (fields.size() != 7)
            continue;
        const qint64 expires = fields[4].toLongLong();
        if ((fields[3] == "TRUE" && !secure) || !pathMatches(fields[2], requestPath)
            || (expires != 0 && expires <= now.toSecsSinceEpoch()))
            continue;
        if (!header.isEmpty())
            header += "; ";
        header += fields[5] + '=' + fields[6];
    }
    return header;
}

Origin Origin::of(const QUrl &address)
{
    Origin origin;
    origin.scheme = address.scheme().toLower();
    origin.host = address.host().toLower();
    origin.port = address.port(defaultPort(origin.scheme));
    return origin;
}

QString Origin::toString() const
{
    const QString name = host.contains(u':') ? u'[' + host + u']' : host;
    return scheme + QStringLiteral("://") + name + u':' + QString::number(port);
}

AddressLogin AddressLogin::of(const QUrl &address)
{
    AddressLogin login;
    if (address.userInfo().isEmpty())
        return login;
    login.origin = Origin::of(address);
    login.user = address.userName(QUrl::FullyDecoded);
    login.password = address.password(QUrl::FullyDecoded);
    return login;
}

void NetworkPolicy::setStart(const QUrl &start)
{
    origin = Origin::of(start);
    if (user.isEmpty() && !start.userName().isEmpty()) {
        user = start.userName(QUrl::FullyDecoded);
        password = start.password(QUrl::FullyDecoded);
    }
}

bool NetworkPolicy::sendsCredentialsTo(const QUrl &address) const
{
    if (origin.isEmpty())
        return false;
    const Origin to = Origin::of(address);
    if (to == origin)
        return true;
    // The HTTPS upgrade of an http start: the same host, on the scheme's own ports.
    return origin.scheme == u"http" && origin.port == 80 && to.scheme == u"https" && to.port == 443
           && to.host == origin.host;
}

RequestCredentials NetworkPolicy::credentialsFor(const QUrl &address, const AddressLogin &login,
                                                 const QDateTime &now) const
{
    RequestCredentials credentials;
    if (sendsCredentialsTo(address)) {
        credentials.headers = !headers.isEmpty();
        credentials.user = user;
        credentials.password = password;
        if (!cookies.isEmpty())
            credentials.cookie = cookieHeader(cookies, address, now);
    }
    if (!login.isEmpty() && Origin::of(address) == login.origin) {
        credentials.user = login.user;
        credentials.password = login.password;
    }
    if (credentials.user.isEmpty())
        credentials.password.clear();
    return credentials;
}

bool NetworkPolicy::hasCredentials() const
{
    return !headers.isEmpty() || !user.isEmpty() || !cookies.isEmpty();
}

bool NetworkPolicy::verifies(const QUrl &address) const
{
    return insecureOrigin.isEmpty() || Origin::of(address) != insecureOrigin;
}

bool NetworkPolicy::insecureWithCredentials() const
{
    return !insecureOrigin.isEmpty() && hasCredentials();
}

QByteArray NetworkPolicy::userAgentHeader() const
{
    return (userAgent.isEmpty() ? defaultUserAgent() : userAgent).toUtf8();
}

QString defaultUserAgent()
{
    return QStringLiteral("Skarnel/" SKARNEL_VERSION);
}

Checked<QUrl> checkAddress(const QString &typed)
{
    if (hasAmbiguousLogin(typed))
        return {{},
                QStringLiteral("the address cannot be read: a \"/\", \"?\", \"#\", \"@\" or "
                               "space in its user name or password must be percent-encoded "
                               "(%2F, %3F, %23, %40, %20)")};
    return {QUrl(typed, QUrl::TolerantMode), {}};
}

Checked<QString> checkCaFile(const QString &path, const QString &named)
{
    const QString what = named.isEmpty() ? QStringLiteral("the CA file %1").arg(path)
                                         : QStringLiteral("the CA file %1 (%2)").arg(path, named);
    if (!QFileInfo(path).isFile())
        return {{}, QStringLiteral("%1 does not exist").arg(what)};
    const int certificates = certificatesIn(path);
    if (certificates < 0)
        return {{}, QStringLiteral("%1 cannot be read").arg(what)};
    if (certificates == 0)
        return {{}, QStringLiteral("%1 holds no PEM certificate").arg(what)};
    return {path, {}};
}

Checked<QString> chooseCaFile(const QString &option, const QString &curlCaBundle,
                              const QString &sslCertFile)
{
    if (!option.isEmpty())
        return checkCaFile(option, QStringLiteral("--ca-file"));
    if (!curlCaBundle.isEmpty())
        return checkCaFile(curlCaBundle, QStringLiteral("CURL_CA_BUNDLE"));
    if (!sslCertFile.isEmpty())
        return checkCaFile(sslCertFile, QStringLiteral("SSL_CERT_FILE"));
    return {};
}

} // namespace skarnel
