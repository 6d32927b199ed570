#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

namespace skarnel {

// Whether a Content-Type header value names an HTML document: text/html or application/xhtml+xml,
// in any case, with or without parameters.
bool isHtmlContentType(const QByteArray &contentType);

// The decoder a browser would choose for `body` served with the Content-Type `contentType`: a byte
// order mark first, then the charset parameter of the Content-Type, then a charset declared by a
// <meta> element near the start of the body, else UTF-8. A label that names no known encoding is
// passed over. Labels the web reads as a wider encoding than their registered name are read the
// web's way, so that a page declared ISO-8859-1 or US-ASCII is read as windows-1252, as every
// browser does. Always returns a valid decoder; invalid bytes decode to U+FFFD.
QStringDecoder htmlDecoder(const QByteArray &body, const QByteArray &contentType);

// `body` as text, read with htmlDecoder(); a byte order mark is not part of the text.
QString decodeHtml(const QByteArray &body, const QByteArray &contentType);

} // namespace skarnel
