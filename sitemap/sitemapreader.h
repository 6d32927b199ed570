#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <memory>

namespace skarnel {

// The bounds of one sitemap, as the sitemap protocol sets them, and the nesting that any sitemap
// stays far within.
struct SitemapLimits
{
    // Bytes of XML, after decompression.
    qint64 bytes = 50 * 1000 * 1000;
    // Addresses of a urlset, or sitemaps of an index.
    qsizetype addresses = 50000;
    // Elements inside elements.
    int depth = 32;
    // Characters of one <loc>.
    qsizetype addressLength = 8192;
};

// How many sitemaps one run reads at most, index and the sitemaps it names together.
inline constexpr int sitemapsPerRun = 1000;

// Counts the sitemaps a run reads against sitemapsPerRun. Not thread-safe: the run owns it.
class SitemapCount
{
public:
    // Whether one more sitemap may be read; counts it when it may.
    bool take()
    {
        if (taken >= sitemapsPerRun)
            return false;
        ++taken;
        return true;
    }
    int count() const { return taken; }

private:
    int taken = 0;
};

// The line that says why the sitemap at `address` gives no more: "sitemap ADDRESS: REASON".
QString sitemapErrorLine(const QString &address, const QString &reason);

// Reads one sitemap as its bytes arrive, without holding them: a <urlset> gives the addresses of
// its pages, a <sitemapindex> the addresses of more sitemaps (the <loc> of each <url> or
// <sitemap>, with the spaces around it trimmed; an empty one is passed over). Elements are
// compared by local name within the root's namespace, so that an extension's <image:loc> is no
// page. Bytes that begin as gzip does (1f 8b) are inflated as they come, whatever the address says
// (an HTTP layer may have inflated a ".gz" already); concatenated gzip members are read in turn.
//
// What stops the reading, each with an error line: bytes that are not XML or not a sitemap, an
// index inside an index (when the reader reads a sitemap an index named), a broken gzip stream,
// more than the limits (the addresses read before the limit are kept), an end before the
// document's end. Memory stays within the limits whatever the bytes: neither the document nor the
// compressed stream is kept.
class SitemapReader
{
public:
    enum class Kind { Unknown, UrlSet, Index };

    // `address` names the sitemap in error lines. `namedByIndex`: the sitemap was named by an
    // index, so that it must not be one itself.
    explicit SitemapReader(const QString &address, bool namedByIndex = false,
                           const SitemapLimits &limits = {});
    ~SitemapReader();
    SitemapReader(const SitemapReader &) = delete;
    SitemapReader &operator=(const SitemapReader &) = delete;

    // The next bytes of the sitemap. Returns false once the reading has stopped, at its end or at
    // an error: the rest of the download is not needed.
    bool feed(QByteArrayView bytes);
    // The download has ended: a document not complete by now is an error.
    void finish();

    bool stopped() const;
    Kind kind() const;
    // The addresses of a urlset's pages, or of an index's sitemaps, read so far.
    const QStringList &addresses() const;
    // Why the reading stopped short, as sitemapErrorLine() gives it; empty while all is well.
    const QString &error() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace skarnel
