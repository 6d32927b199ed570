#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>

#include <atomic>
#include <chrono>

namespace skarnel {

// Parsing stops after this long and the page then has no links. Only a hostile or broken page comes
// near it: the parser needs time that grows with the square of the nesting depth for some elements
// (100,000 nested <div> take half a minute), while a 16 MiB page of ordinary markup takes about a
// second. Parsing stops the same way once the parser holds 192 MiB, which only a page made of
// little else but elements reaches: 16 MiB of them would take it over a gigabyte. The 192 MiB are
// shared by all the pages parsed at one time, on whatever thread; a page that finds them taken by
// the others is parsed again once those have ended, alone, within what is left of its time.
inline constexpr std::chrono::milliseconds defaultParseBudget = std::chrono::seconds(5);

// The links of an HTML page: the address of every `a` and `area` element that has an `href`, in
// document order, each resolved by resolveHref() against the page's base address. The base address
// is the first <base href> of the page, itself resolved against `documentAddress`, when that gives
// an http or https address with a host; otherwise `documentAddress`. `body` is decoded as
// htmlDecoder() decides. Elements inside <template> and elements outside the HTML namespace (inside
// <svg> or <math>) are not links of the page, as in a browser's document.links.
//
// Parsing also stops, as over its budget, soon after `abandoned` (when given) turns true: a page
// read on another thread for a caller that no longer wants it.
QStringList readLinks(const QByteArray &body, const QByteArray &contentType,
                      const QUrl &documentAddress,
                      std::chrono::milliseconds parseBudget = defaultParseBudget,
                      const std::atomic<bool> *abandoned = nullptr);

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
