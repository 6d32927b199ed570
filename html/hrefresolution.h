#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>

namespace skarnel {

// The address a browser reports as the `href` of a link whose attribute value is `href`, in a page
// whose base address is `base` (an absolute http or https address):
// - leading and trailing spaces and control characters are ignored, and tabs and newlines anywhere;
// - an address with another scheme than http and https (mailto:, javascript:, ftp: ...) is kept as
//   written, with its scheme in lower case;
// - otherwise it is resolved against `base`: scheme and host in lower case, the default port
// dropped,
//   "/" for an empty path, dot segments removed, backslashes read as slashes before the query;
//   spaces and non-ASCII characters are percent-encoded (UTF-8), while the query and the fragment
//   are otherwise kept as written;
// - an address that cannot be parsed is returned as the cleaned-up text.
// Where Qt's URL parser normalises more than a browser does, its form is kept: percent-encoded
// unreserved characters are decoded ("%7E" gives "~"), percent-encodings in the path are in upper
// case, and "|" and "^" in the path are percent-encoded.
QString resolveHref(QStringView href, const QUrl &base);

} // namespace skarnel
