#pragma once

#include <QString>

namespace skarnel {

// Which links a crawl records, and into which list.
//
// A link is recorded when its address begins with "http://" and has at least 13 characters, or
// begins with "https://" and has at least 14 (the scheme in lower case, as written), and holds no
// "#". Every other link (other schemes, capitals in the scheme, fragments, bare hosts shorter
// than that) is passed over. With `fileAddresses` (a site read from a built folder), so is a
// local file's address, "file:///" and a path, without "#".
bool passesLinkFilter(const QString &address, bool fileAddresses = false);

enum class LinkKind { Internal, External };

// Internal when the address begins with the start address exactly as typed (letter case and
// spaces significant); an empty start address makes every address internal. A start without a
// path ("http://example.org", "http://127.0.0.1:1808") stands for that host and port alone, as if
// typed with its "/": what follows it in an internal address is "/", "?", "#" or nothing.
LinkKind classifyLink(const QString &address, const QString &startAddress);

} // namespace skarnel
