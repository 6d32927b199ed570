#include "htmldecoding.h"

#include <QByteArrayView>

#include <optional>

namespace skarnel {

namespace {

struct WebAlias
{
    QByteArrayView label;
    const char *encoding;
};

// Labels whose registered encoding is narrower than the one the web has always read them as. The
// converters behind QStringDecoder take the registered meaning (ISO-8859-1 maps 0x80-0x9F to
// control characters), while pages so labelled are written for the wider one (curly quotes at 0x93
// and 0x94). Every other label is given to QStringDecoder as it is.
constexpr WebAlias webAliases[] = {
        {"ansi_x3.4-1968", "windows-1252"},
        {"ascii", "windows-1252"},
        {"cp819", "windows-1252"},
        {"csisolatin1", "windows-1252"},
        {"ibm819", "windows-1252"},
        {"iso-8859-1", "windows-1252"},
        {"iso-ir-100", "windows-1252"},
        {"iso8859-1", "windows-1252"},
        {"iso88591", "windows-1252"},
        {"iso_8859-1", "windows-1252"},
        {"iso_8859-1:1987", "windows-1252"},
        {"l1", "windows-1252"},
        {"latin1", "windows-1252"},
        {"us-ascii", "windows-1252"},
        {"x-cp1252", "windows-1252"},
        {"csisolatin5", "windows-1254"},
        {"iso-8859-9", "windows-1254"},
        {"iso-ir-148", "windows-1254"},
        {"iso8859-9", "windows-1254"},
        {"iso88599", "windows-1254"},
        {"iso_8859-9", "windows-1254"},
        {"iso_8859-9:1989", "windows-1254"},
        {"l5", "windows-1254"},
        {"latin5", "windows-1254"},
        {"x-cp1254", "windows-1254"},
        {"dos-874", "windows-874"},
        {"iso-8859-11", "windows-874"},
        {"iso8859-11", "windows-874"},
        {"iso885911", "windows-874"},
        {"tis-620", "windows-874"},
        {"chinese", "GBK"},
        {"csgb2312", "GBK"},
        {"csiso58gb231280", "GBK"},
        {"gb2312", "GBK"},
        {"gb_2312", "GBK"},
        {"gb_2312-80", "GBK"},
        {"iso-ir-58", "GBK"},
        {"x-gbk", "GBK"},
        {"cseuckr", "windows-949"},
        {"csksc56011987", "windows-949"},
        {"euc-kr", "windows-949"},
        {"iso-ir-149", "windows-949"},
        {"korean", "windows-949"},
        {"ks_c_5601-1987", "windows-949"},
        {"ks_c_5601-1989", "windows-949"},
        {"ksc5601", "windows-949"},
        {"ksc_5601", "windows-949"},
        // Without a byte order mark, a page served as UTF-16 is little-endian.
        {"utf-16", "UTF-16LE"},
};

// A decoder for an encoding label from a header or a page, or nothing when the label names no
// encoding that can be decoded.
std::optional<QStringDecoder> decoderForLabel(QByteArrayView label)
{
    const QByteArray name = label.trimmed().toByteArray().toLower();
    if (name.isEmpty())
        return std::nullopt;
    const char *encoding = name.constData();
    for (const WebAlias &alias : webAliases) {
        if (alias.label == name) {
            encoding = alias.encoding;
            break;
        }
    }
    QStringDecoder decoder(encoding);
    if (!decoder.isValid())
        return std::nullopt;
    return decoder;
}

QByteArrayView mediaTypeOf(QByteArrayView contentType)
{
    const qsizetype semicolon = contentType.indexOf(';');
    return (semicolon < 0 ? contentType : contentType.first(semicolon)).trimmed();
}

// The charset parameter of a Content-Type value, unquoted; empty when there is none.
QByteArrayView charsetParameterOf(QByteArrayView contentType)
{
    qsizetype start = contentType.indexOf(';');
    while (start >= 0) {
        const qsizetype end = contentType.indexOf(';', start + 1);
        const QByteArrayView parameter =
                contentType.sliced(start + 1, (end < 0 ? contentType.size() : end) - start - 1)
                        .trimmed();
        const qsizetype equals = parameter.indexOf('=');
        if (equals > 0
            && parameter.first(equals).trimmed().compare("charset", Qt::CaseInsensitive) == 0) {
            QByteArrayView value = parameter.sliced(equals + 1).trimmed();
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
                && value.back() == value.front())
                value = value.sliced(1, value.size() - 2);
            return value;
        }
        start = end;
    }
    return {};
}

} // namespace

bool isHtmlContentType(const QByteArray &contentType)
{
    const QByteArrayView mediaType = mediaTypeOf(contentType);
    return mediaType.compare("text/html", Qt::CaseInsensitive) == 0
           || mediaType.compare("application/xhtml+xml", Qt::CaseInsensitive) == 0;
}

QStringDecoder htmlDecoder(const QByteArray &body, const QByteArray &contentType)
{
    if (const auto marked = QStringConverter::encodingForData(body))
        return QStringDecoder(*marked);

    if (auto declared = decoderForLabel(charsetParameterOf(contentType)))
        return std::move(*declared);

    // Qt's look at the start of the page for a <meta> charset; it answers UTF-8 when it finds none.
    QStringDecoder fromMeta = QStringDecoder::decoderForHtml(body);
    if (fromMeta.isValid()) {
        const QByteArrayView name(fromMeta.name());
        // A page that could be read far enough to find its <meta> is not UTF-16, whatever it says.
        if (name.startsWith("UTF-16"))
            return QStringDecoder(QStringDecoder::Utf8);
        if (auto widened = decoderForLabel(name))
            return std::move(*widened);
        return fromMeta;
    }
    return QStringDecoder(QStringDecoder::Utf8);
}

QString decodeHtml(const QByteArray &body, const QByteArray &contentType)
{
    QStringDecoder decoder = htmlDecoder(body, contentType);
    return decoder.decode(body);
}

} // namespace skarnel
