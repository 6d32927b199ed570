#pragma once

#include <html/hrefresolution.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>

#include <kinds/addresskind.h>

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

struct FoundLink
{
    QString address;
    AddressKind kind = AddressKind::Page;

    friend bool operator==(const FoundLink &, const FoundLink &) = default;
};

struct PageReadOptions
{
    // Read the addresses of the page's resources as well as its links.
    bool resources = false;
    // Read the names that the page's fragments (#name) can point at.
    bool anchors = false;
};

struct PageReading
{
    // Every address found, in document order, repeats included.
    QList<FoundLink> links;
    // The names a fragment can point at, each once, at its first place.
    QStringList anchors;
    // False when the parse was stopped by its budget, by the shared memory or by `abandoned`: the
    // page is then read as having neither links nor anchors, never in part.
    bool complete = true;
};

// What a browser sees in an HTML page. `body` is decoded as htmlDecoder() decides.
//
// Links (kind Page): the `href` of every `a` and `area` element that has one. Resources, with
// `options.resources`, from these attributes, in this order within an element:
// - Image: `img` src and srcset; `source` src and srcset in a `picture`; `input` src when its type
//   is "image"; `link` href with rel "icon" or "apple-touch-icon";
// - Media: `video` and `audio` src and poster; `source` src and srcset in a `video` or an `audio`;
//   `track` src;
// - Script: `script` src. Frame: `iframe` and `frame` src. Style: `link` href with rel
//   "stylesheet";
// - Other: `object` data, `embed` src; `link` href with rel "manifest", "preload",
//   "modulepreload", "prefetch", "alternate", "canonical", "author", "help", "license", "next",
//   "prev" or "search", and that of every `link` with a `rev`.
// A `source` counts only as a child of its `picture`, `video` or `audio`, where a browser reads
// it. A rel is a list of words in any case; a `link` counts once, as the first of Style, Image and
// Other it is. Other rels are not read: "preconnect" and "dns-prefetch" name a bare host. A srcset
// gives the address of each candidate that a browser reads from it, as the HTML standard parses
// the attribute (a candidate whose descriptors are wrong is passed over), and an address it names
// twice once. A resource's attribute that is empty or holds nothing but spaces is passed over,
// unlike an empty href of a link, which is the page itself.
//
// Every address is resolved by resolveHref() against the page's base address: the first
// <base href> of the page, itself resolved against `documentAddress`, when that gives an http or
// https address with a host; otherwise `documentAddress`. Elements inside <template> are not part
// of the document; those outside the HTML namespace (inside <svg> or <math>) have neither links nor
// resources, as in a browser's document.links.
//
// Anchors, with `options.anchors`: the `id` of every element of the document, whatever its
// namespace, and the `name` of every HTML `a`, as written (an empty one names nothing).
//
// Parsing also stops, as over its budget, soon after `abandoned` (when given) turns true: a page
// read on another thread for a caller that no longer wants it.
PageReading readPage(const QByteArray &body, const QByteArray &contentType,
                     const QUrl &documentAddress, PageReadOptions options,
                     std::chrono::milliseconds parseBudget = defaultParseBudget,
                     const std::atomic<bool> *abandoned = nullptr);

// The addresses of the links of an HTML page, as readPage() gives them, and none when its reading
// was not complete.
QStringList readLinks(const QByteArray &body, const QByteArray &contentType,
                      const QUrl &documentAddress,
                      std::chrono::milliseconds parseBudget = defaultParseBudget,
                      const std::atomic<bool> *abandoned = nullptr);

} // namespace skarnel
