#include "builtfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace skarnel {

namespace {

// An address's place under the folder: the names below it, decoded, dot segments resolved.
struct Place
{
    QStringList names;
    // The address ends in "/", so that it names a folder.
    bool endsInSlash = false;
};

// Resolves `decoded`, a path below the folder, as a web server does: "." and empty names are
// passed over, ".." goes up one name but never above the folder.
Place placeOf(const QString &decoded)
{
    Place place;
    for (const QString &name : decoded.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (name == u".")
            continue;
        if (name == u"..") {
            if (!place.names.isEmpty())
                place.names.removeLast();
            continue;
        }
        place.names.append(name);
    }
    place.endsInSlash = decoded.isEmpty() || decoded.endsWith(QLatin1Char('/'))
                        || decoded.endsWith(QLatin1String("/.."))
                        || decoded.endsWith(QLatin1String("/."));
    return place;
}

QString failureFor(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("no such file");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case ELOOP:
        return QStringLiteral("too many symbolic links");
    case ENAMETOOLONG:
        return QStringLiteral("file name too long");
    default:
        return QStringLiteral("cannot read the file (error %1)").arg(error);
    }
}

QByteArray contentTypeOf(QStringView path)
{
    if (path.endsWith(u".xhtml", Qt::CaseInsensitive))
        return QByteArrayLiteral("application/xhtml+xml");
    if (hasHtmlSuffix(path))
        return QByteArrayLiteral("text/html");
    return {};
}

// A file:// address of this machine: without a host, or with "localhost".
bool isLocal(const QUrl &address)
{
    return address.host().isEmpty() || address.host() == u"localhost";
}

QUrl withoutDefaultPort(QUrl address)
{
    if ((address.scheme() == u"http" && address.port() == 80)
        || (address.scheme() == u"https" && address.port() == 443))
        address.setPort(-1);
    return address;
}

} // namespace

bool hasHtmlSuffix(QStringView path)
{
    return path.endsWith(u".html", Qt::CaseInsensitive)
           || path.endsWith(u".htm", Qt::CaseInsensitive)
           || path.endsWith(u".xhtml", Qt::CaseInsensitive);
}

BuiltFolder::BuiltFolder(const QString &root, const QUrl &site)
    : rootPath(QDir::cleanPath(root))
    , siteAddress(withoutDefaultPort(site.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment)))
{
    QString path = siteAddress.path(QUrl::FullyEncoded);
    if (!path.endsWith(QLatin1Char('/')))
        path.append(QLatin1Char('/'));
    siteAddress.setPath(path, QUrl::TolerantMode);
    sitePath = path;
    siteOrigin = siteAddress.toString(QUrl::RemovePath | QUrl::FullyEncoded);
}

namespace {

// The place of `address` under `folder`, when it is under it.
std::optional<Place> placeUnder(const BuiltFolder &folder, const QString &siteOrigin,
                                const QString &sitePath, const QUrl &address)
{
    if (address.scheme() == u"file") {
        if (!isLocal(address))
            return std::nullopt;
        const QString path = QDir::cleanPath(address.path());
        const QString &root = folder.root();
        if (root == u"/") {
            Place place = placeOf(path);
            place.endsInSlash = address.path().endsWith(QLatin1Char('/')) || path == u"/";
            return place;
        }
        if (path != root && !path.startsWith(root + QLatin1Char('/')))
            return std::nullopt;
        Place place = placeOf(path.sliced(root.size()));
        place.endsInSlash = address.path().endsWith(QLatin1Char('/'));
        return place;
    }
    const QUrl served = withoutDefaultPort(address);
    if (served.toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment
                        | QUrl::RemoveUserInfo | QUrl::FullyEncoded)
        != siteOrigin)
        return std::nullopt;
    QString path = served.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    if (path + QLatin1Char('/') == sitePath) {
        // The folder itself without its "/".
        Place place;
        return place;
    }
    if (!path.startsWith(sitePath))
        return std::nullopt;
    // Decoded before its names are read, as web servers do: "%2e%2e" is "..", and as such never
    // climbs above the folder.
    return placeOf(QUrl::fromPercentEncoding(path.sliced(sitePath.size()).toLatin1()));
}

} // namespace

bool BuiltFolder::contains(const QUrl &address) const
{
    return placeUnder(*this, siteOrigin, sitePath, address).has_value();
}

QString BuiltFolder::filePath(const QUrl &address) const
{
    const std::optional<Place> place = placeUnder(*this, siteOrigin, sitePath, address);
    if (!place)
        return {};
    if (place->names.isEmpty())
        return rootPath;
    return (rootPath == u"/" ? QString() : rootPath) + QLatin1Char('/')
           + place->names.join(QLatin1Char('/'));
}

QUrl BuiltFolder::served(const QUrl &address) const
{
    const std::optional<Place> place = placeUnder(*this, siteOrigin, sitePath, address);
    if (!place)
        return {};
    if (address.scheme() != u"file")
        return address;
    QUrl result = siteAddress;
    QString path = QUrl::fromPercentEncoding(sitePath.toLatin1()) + place->names.join(u'/');
    if (place->endsInSlash && !place->names.isEmpty())
        path.append(QLatin1Char('/'));
    result.setPath(path, QUrl::DecodedMode);
    if (address.hasQuery())
        result.setQuery(address.query(QUrl::FullyEncoded), QUrl::TolerantMode);
    if (address.hasFragment())
        result.setFragment(address.fragment(QUrl::FullyEncoded), QUrl::TolerantMode);
    return result;
}

QUrl BuiltFolder::shown(const QUrl &servedAddress) const
{
    if (servedAddress.scheme() == u"file")
        return contains(servedAddress) ? servedAddress : QUrl();
    const std::optional<Place> place = placeUnder(*this, siteOrigin, sitePath, servedAddress);
    if (!place)
        return {};
    QString path = filePath(servedAddress);
    if (place->endsInSlash && !path.endsWith(QLatin1Char('/')))
        path.append(QLatin1Char('/'));
    QUrl result = QUrl::fromLocalFile(path);
    if (servedAddress.hasQuery())
        result.setQuery(servedAddress.query(QUrl::FullyEncoded), QUrl::TolerantMode);
    if (servedAddress.hasFragment())
        result.setFragment(servedAddress.fragment(QUrl::FullyEncoded), QUrl::TolerantMode);
    return result;
}

FolderRead BuiltFolder::read(const QUrl &address, qint64 bodyCap) const
{
    FolderRead read;
    const std::optional<Place> place = placeUnder(*this, siteOrigin, sitePath, address);
    if (!place) {
        read.finalAddress = address;
        read.failure = QStringLiteral("outside the folder");
        return read;
    }
    read.finalAddress = served(address).adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    if (read.finalAddress.path().isEmpty())
        read.finalAddress.setPath(QStringLiteral("/"));
    QString path = filePath(address);
    if (path.contains(QChar(0))) {
        read.failure = QStringLiteral("no such file");
        return read;
    }

    struct stat found
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &found) != 0) {
        read.failure = failureFor(errno);
        return read;
    }
    if (S_ISDIR(found.st_mode)) {
        if (!place->endsInSlash) {
            QString finalPath = read.finalAddress.path(QUrl::FullyEncoded);
            read.finalAddress.setPath(finalPath + QLatin1Char('/'), QUrl::TolerantMode);
        }
        const QString folder = path == u"/" ? QString() : path;
        bool indexFound = false;
        for (const QLatin1StringView index :
             {QLatin1StringView("/index.html"), QLatin1StringView("/index.htm")}) {
            if (::stat(QFile::encodeName(folder + index).constData(), &found) == 0) {
                path = folder + index;
                indexFound = true;
                break;
            }
        }
        if (!indexFound) {
            read.failure = QStringLiteral("no index file");
            return read;
        }
    } else if (place->endsInSlash) {
        // "page.html/" names no file, as on a web server.
        read.failure = QStringLiteral("no such file");
        return read;
    }
    read.path = path;
    // A FIFO, a device or a socket is never opened: opening a FIFO waits for a writer, and reading
    // /dev/zero never ends.
    if (!S_ISREG(found.st_mode)) {
        read.failure = QStringLiteral("not a regular file");
        return read;
    }

    const int file = ::open(QFile::encodeName(path).constData(),
                            O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (file < 0) {
        read.failure = failureFor(errno);
        return read;
    }
    struct stat opened
    {
    };
    // What was opened is what was looked at: a file swapped for a FIFO meanwhile is not read.
    if (::fstat(file, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(file);
        read.failure = QStringLiteral("not a regular file");
        return read;
    }
    read.identity = {quint64(opened.st_dev), quint64(opened.st_ino)};
    read.contentType = contentTypeOf(path);

    const qint64 cap = qMax<qint64>(bodyCap, 0);
    read.body.resize(qsizetype(qMin<qint64>(qMax<qint64>(opened.st_size, 0), cap)));
    qsizetype filled = 0;
    while (true) {
        if (filled == read.body.size()) {
            if (filled >= cap) {
                // One byte more tells a file of exactly the cap from a larger one.
                char more = 0;
                ssize_t extra = 0;
                do
                    extra = ::read(file, &more, 1);
                while (extra < 0 && errno == EINTR);
                read.capped = extra > 0;
                break;
            }
            // The file grew since it was looked at.
            read.body.resize(qsizetype(qMin<qint64>(cap, read.body.size() + 64 * 1024)));
        }
        const ssize_t got =
                ::read(file, read.body.data() + filled, size_t(read.body.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(file);
            read.body.clear();
            read.failure = failureFor(error);
            return read;
        }
        if (got == 0)
            break;
        filled += got;
    }
    read.body.truncate(filled);
    ::close(file);
    return read;
}

QString fileAbsence(const QUrl &address)
{
    if (address.scheme() != u"file" || !isLocal(address))
        return QStringLiteral("not a local file");
    const QByteArray path = QFile::encodeName(address.path());
    struct stat found
    {
    };
    if (path.contains('\0') || ::stat(path.constData(), &found) != 0)
        return failureFor(path.contains('\0') ? ENOENT : errno);
    return {};
}

bool isFolderStart(const QString &text, bool relativeAllowed)
{
    const QString start = text.trimmed();
    if (start.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return true;
    if (start.isEmpty() || start.contains(QLatin1String("://")))
        return false;
    return relativeAllowed || start.startsWith(QLatin1Char('/'));
}

QString checkSiteUrl(const QString &siteUrl)
{
    const QUrl site(siteUrl, QUrl::StrictMode);
    if (site.isValid() && (site.scheme() == u"http" || site.scheme() == u"https")
        && !site.host().isEmpty())
        return {};
    return QStringLiteral("not an http or https address: %1").arg(siteUrl);
}

FolderStart checkFolderStart(const QString &text, const QString &siteUrl,
                             const QString &workingFolder)
{
    FolderStart start;
    if (!siteUrl.isEmpty()) {
        start.error = checkSiteUrl(siteUrl);
        if (!start.ok())
            return start;
    }
    start.site = siteUrl.isEmpty() ? folderStandInSite : QUrl(siteUrl, QUrl::StrictMode);

    const QString given = text.trimmed();
    QString path;
    if (given.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl address(given);
        if (!address.isValid() || !isLocal(address)) {
            start.error = QStringLiteral("not a local file address: %1").arg(given);
            return start;
        }
        path = QDir::cleanPath(address.toLocalFile());
    } else {
        path = QDir::cleanPath(QDir(workingFolder).absoluteFilePath(given));
    }

    struct stat found
    {
    };
    if (path.contains(QChar(0)) || ::stat(QFile::encodeName(path).constData(), &found) != 0) {
        start.error = QStringLiteral("no such folder or file: %1").arg(path);
        return start;
    }
    if (S_ISDIR(found.st_mode)) {
        start.root = path;
        start.start = BuiltFolder(path, start.site).site();
        return start;
    }
    if (!S_ISREG(found.st_mode) || !hasHtmlSuffix(path)) {
        start.error =
                QStringLiteral("not a folder or an HTML file (.html, .htm, .xhtml): %1").arg(path);
        return start;
    }
    start.root = QFileInfo(path).absolutePath();
    start.start = BuiltFolder(start.root, start.site).served(QUrl::fromLocalFile(path));
    return start;
}

} // namespace skarnel
