#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace skarnel {

// The origin a folder is read as served at when no site address is given: a name under .invalid,
// which no real site can have.
inline const QUrl folderStandInSite = QUrl(QStringLiteral("http://site.invalid/"));

// Which file a read found: its device and inode, after symbolic links, so that one file reached
// under two addresses is known as one.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;

    bool isValid() const { return device != 0 || inode != 0; }
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};

inline size_t qHash(const FileIdentity &identity, size_t seed = 0)
{
    return qHashMulti(seed, identity.device, identity.inode);
}

// One file of the folder read for an address.
struct FolderRead
{
    // Why nothing was read, in the user's words ("no such file", "no index file", "not a regular
    // file", "permission denied", "outside the folder"); empty when the file was read.
    QString failure;
    // The address of what was read: the one asked for, without its query, and with a "/" added
    // when it named a folder without one, as a web server redirects it, so that the index's links
    // resolve against the folder.
    QUrl finalAddress;
    // The file read, after the index of a folder was looked for.
    QString path;
    FileIdentity identity;
    // "text/html" for .html and .htm, "application/xhtml+xml" for .xhtml (in any case), otherwise
    // empty: only HTML files are pages.
    QByteArray contentType;
    // The file's first bytes, at most the cap the read was given.
    QByteArray body;
    // The file was larger than the cap.
    bool capped = false;

    bool ok() const { return failure.isEmpty(); }
    bool isHtml() const { return !contentType.isEmpty(); }
};

// A folder of files read as if a web server served it at a site address (the stand-in origin
// unless one is given), so that the addresses its pages hold resolve as they would on the site:
// "/css/site.css" is the folder's own root, and ".." cannot climb out of it. The site address may
// have a path ("https://example.org/docs/"): the folder is then what lies under it.
//
// An address of the site (its scheme, host, port and path prefix) is "served"; the same file as a
// "file:///…" address under the folder is what lists and reports show. Every member is const and
// touches no shared state: a BuiltFolder may be read from any number of threads at once.
class BuiltFolder
{
public:
    // `root`: the folder, an absolute path (cleaned, symbolic links kept as written, as shown).
    // `site`: an http or https address; its query and fragment are dropped, and a path that does
    // not end in "/" gets one.
    explicit BuiltFolder(const QString &root, const QUrl &site = folderStandInSite);

    const QString &root() const { return rootPath; }
    const QUrl &site() const { return siteAddress; }

    // Whether `address` is served from the folder: an address under the site, or a file://
    // address under the folder.
    bool contains(const QUrl &address) const;
    // The served form of an address under the folder: a file:// address under the folder turned
    // into the site's, a served one as it is. Empty when the address is not under the folder.
    QUrl served(const QUrl &address) const;
    // The file:// form that lists and reports show of a served address ("http://site.invalid/a/
    // b.html?x#y" gives "file:///folder/a/b.html?x#y"). Empty when the address is not served.
    QUrl shown(const QUrl &servedAddress) const;

    // The file a served address (or a file:// address under the folder) names, without reading
    // it: the folder's path and the path of the address under the site, percent-decoded, its
    // query and fragment dropped, dot segments (encoded ones too) never climbing above the
    // folder. Empty when the address is not under the folder.
    QString filePath(const QUrl &address) const;

    // Reads the file `address` names, at most `bodyCap` bytes of it: a folder reads its
    // index.html, else its index.htm. Only regular files are read, after symbolic links, which are
    // followed wherever they lead, as a web server does; a FIFO is never opened for reading, so
    // nothing waits. Blocking file I/O: call it off the UI thread.
    FolderRead read(const QUrl &address, qint64 bodyCap) const;

private:
    QString rootPath;
    QUrl siteAddress;
    // The site's address without its path, and its path, ending in "/".
    QString siteOrigin;
    QString sitePath;
};

// A start the user gave as a folder or a file in one, checked before a run.
struct FolderStart
{
    // The folder, absolute and cleaned: the given folder, or the folder of the given file.
    QString root;
    QUrl site;
    // The served address the crawl starts at: the site's root, or the given file's address.
    QUrl start;
    // What is wrong, in the user's words; empty when all is well.
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// Whether what the user typed as the start names a local path rather than a web address: a
// file:// address, or, where `relativeAllowed` (the command line), any text without "://";
// otherwise (the window's address box) only an absolute path.
bool isFolderStart(const QString &text, bool relativeAllowed);

// Checks a start given as a path (relative ones against `workingFolder`) or a file:// address, and
// `siteUrl` (empty: the stand-in origin): the path must be an existing folder or an HTML file
// (.html, .htm, .xhtml), the site address an http or https address with a host.
FolderStart checkFolderStart(const QString &text, const QString &siteUrl,
                             const QString &workingFolder);

// Checks a --site-url alone: empty when it is an http or https address with a host, else why not.
QString checkSiteUrl(const QString &siteUrl);

// Why the file:// address `address` (one outside the folder, checked for its existence alone)
// names no file: "no such file", "not a local file" for another host's; empty when something is
// there. Nothing is opened.
QString fileAbsence(const QUrl &address);

// Whether a file's name ends as an HTML file's does: .html, .htm or .xhtml, in any case.
bool hasHtmlSuffix(QStringView path);

} // namespace skarnel
