#include "sitemapreader.h"

#include <QLocale>
#include <QXmlStreamReader>

#include <zlib.h>

namespace skarnel {

QString sitemapErrorLine(const QString &address, const QString &reason)
{
    return QStringLiteral("sitemap %1: %2").arg(address, reason);
}

class SitemapReader::Private
{
public:
    Private(const QString &address, bool namedByIndex, const SitemapLimits &limits)
        : address(address)
        , namedByIndex(namedByIndex)
        , limits(limits)
    {
    }

    ~Private()
    {
        if (compression == Compression::Gzip)
            inflateEnd(&stream);
    }

    bool feed(QByteArrayView bytes);
    void finish();

    const QString address;
    const bool namedByIndex;
    const SitemapLimits limits;

    Kind kind = Kind::Unknown;
    QStringList addresses;
    QString error;
    bool stopped = false;

private:
    enum class Compression { Undecided, Plain, Gzip };

    bool inflateBytes(QByteArrayView bytes);
    bool readXml(QByteArrayView bytes);
    bool parse();
    void startElement();
    void endElement();
    bool fail(const QString &reason)
    {
        error = sitemapErrorLine(address, reason);
        stopped = true;
        return false;
    }

    Compression compression = Compression::Undecided;
    // The first bytes, kept until there are two to tell gzip by.
    QByteArray head;
    z_stream stream {};
    // The gzip member read last has ended; bytes after it begin another, or are passed over.
    bool memberEnded = false;

    QXmlStreamReader xml;
    qint64 xmlBytes = 0;
    int depth = 0;
    QString rootNamespace;
    bool inEntry = false;
    bool inLocation = false;
    bool locationTooLong = false;
    QString location;
    bool complete = false;
};

bool SitemapReader::Private::feed(QByteArrayView bytes)
{
    if (stopped)
        return false;
    if (compression == Compression::Undecided) {
        const qsizetype taken = qMin<qsizetype>(bytes.size(), 2 - head.size());
        head.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        if (head.size() < 2)
            return true;
        // What was kept goes first; the rest of this feed follows below.
        const QByteArray first = head;
        head.clear();
        if (first.startsWith("\x1f\x8b")) {
            if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
                return fail(QStringLiteral("cannot inflate it"));
            compression = Compression::Gzip;
        } else {
            compression = Compression::Plain;
        }
        if (!(compression == Compression::Gzip ? inflateBytes(first) : readXml(first)))
            return false;
    }
    if (bytes.isEmpty())
        return !stopped;
    return compression == Compression::Gzip ? inflateBytes(bytes) : readXml(bytes);
}

bool SitemapReader::Private::inflateBytes(QByteArrayView bytes)
{
    constexpr qsizetype chunk = 64 * 1024;
    QByteArray out(chunk, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
    stream.avail_in = uInt(bytes.size());
    while (stream.avail_in > 0) {
        if (memberEnded) {
            // Another member may follow; anything else after the first is passed over, as gzip
            // itself passes trailing zeros over.
            if (static_cast<unsigned char>(*stream.next_in) != 0x1f)
                return true;
            inflateReset(&stream);
            memberEnded = false;
        }
        stream.next_out = reinterpret_cast<Bytef *>(out.data());
        stream.avail_out = uInt(chunk);
        const int result = inflate(&stream, Z_NO_FLUSH);
        const qsizetype produced = chunk - qsizetype(stream.avail_out);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
            return fail(QStringLiteral("not a readable gzip stream"));
        if (produced > 0 && !readXml(QByteArrayView(out.constData(), produced)))
            return false;
        if (result == Z_STREAM_END)
            memberEnded = true;
        else if (result == Z_BUF_ERROR && produced == 0)
            break;
    }
    return true;
}

bool SitemapReader::Private::readXml(QByteArrayView bytes)
{
    const qint64 room = limits.bytes - xmlBytes;
    const bool over = bytes.size() > room;
    if (over)
        bytes = bytes.first(qsizetype(room));
    xmlBytes += bytes.size();
    xml.addData(bytes.toByteArray());
    if (!parse())
        return false;
    if (over)
        return fail(QStringLiteral("larger than %1 MB: the rest is passed over")
                            .arg(limits.bytes / (1000 * 1000)));
    return true;
}

bool SitemapReader::Private::parse()
{
    while (!stopped && !complete) {
        switch (xml.readNext()) {
        case QXmlStreamReader::Invalid:
            if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError)
                return true;
            return fail(QStringLiteral("not well-formed XML at line %1: %2")
                                .arg(xml.lineNumber())
                                .arg(xml.errorString()));
        case QXmlStreamReader::StartElement:
            startElement();
            break;
        case QXmlStreamReader::EndElement:
            endElement();
            break;
        case QXmlStreamReader::Characters:
            if (inLocation && !locationTooLong) {
                if (location.size() + xml.text().size() > limits.addressLength)
                    locationTooLong = true;
                else
                    location.append(xml.text());
            }
            break;
        case QXmlStreamReader::EndDocument:
            complete = true;
            break;
        default:
            break;
        }
    }
    // The document's end ends the reading: what follows the root element is not looked at.
    if (complete)
        stopped = true;
    return !stopped;
}

void SitemapReader::Private::startElement()
{
    if (++depth > limits.depth) {
        fail(QStringLiteral("elements nested deeper than %1").arg(limits.depth));
        return;
    }
    const QStringView name = xml.name();
    const QStringView space = xml.namespaceUri();
    if (depth == 1) {
        rootNamespace = space.toString();
        if (name == u"urlset") {
            kind = Kind::UrlSet;
        } else if (name == u"sitemapindex") {
            if (namedByIndex)
                fail(QStringLiteral("a sitemap index inside a sitemap index"));
            else
                kind = Kind::Index;
        } else {
            fail(QStringLiteral("not a sitemap: its root element is <%1>").arg(name));
        }
    } else if (depth == 2) {
        inEntry = space == rootNamespace
                  && name == (kind == Kind::UrlSet ? QStringView(u"url") : QStringView(u"sitemap"));
    } else if (depth == 3) {
        inLocation = inEntry && space == rootNamespace && name == u"loc";
        locationTooLong = false;
        location.clear();
    }
}

void SitemapReader::Private::endElement()
{
    if (depth == 3 && inLocation) {
        inLocation = false;
        const QString found = location.trimmed();
        location.clear();
        if (!locationTooLong && !found.isEmpty()) {
            if (addresses.size() >= limits.addresses) {
                fail(QStringLiteral("more than %1 addresses: the rest are passed over")
                             .arg(QLocale::c().toString(limits.addresses)));
                return;
            }
            addresses.append(found);
        }
    } else if (depth == 2) {
        inEntry = false;
    }
    if (--depth == 0)
        complete = true;
}

void SitemapReader::Private::finish()
{
    if (stopped)
        return;
    if (compression == Compression::Undecided && !head.isEmpty()) {
        compression = Compression::Plain;
        const QByteArray first = head;
        head.clear();
        if (!readXml(first))
            return;
    }
    if (complete)
        return;
    if (compression == Compression::Gzip && !memberEnded) {
        fail(QStringLiteral("the gzip stream ends early"));
        return;
    }
    if (xmlBytes == 0)
        fail(QStringLiteral("empty"));
    else
        fail(QStringLiteral("the document ends early, at line %1").arg(xml.lineNumber()));
}

SitemapReader::SitemapReader(const QString &address, bool namedByIndex, const SitemapLimits &limits)
    : d(std::make_unique<Private>(address, namedByIndex, limits))
{
}

SitemapReader::~SitemapReader() = default;

bool SitemapReader::feed(QByteArrayView bytes)
{
    return d->feed(bytes);
}

void SitemapReader::finish()
{
    d->finish();
}

bool SitemapReader::stopped() const
{
    return d->stopped;
}

SitemapReader::Kind SitemapReader::kind() const
{
    return d->kind;
}

const QStringList &SitemapReader::addresses() const
{
    return d->addresses;
}

const QString &SitemapReader::error() const
{
    return d->error;
}

} // namespace skarnel
