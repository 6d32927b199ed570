#pragma once

#include <QString>

namespace skarnel {

// What an address is to the pages that name it: a page they link to (`a`, `area`), or something
// they make a browser fetch or show (a picture, a style sheet, a script, a frame, a sound or a
// film, anything else).
enum class AddressKind { Page, Image, Style, Script, Frame, Media, Other };

// The kind as reports write it: page, image, style, script, frame, media, other.
inline QString addressKindName(AddressKind kind)
{
    switch (kind) {
    case AddressKind::Page:
        return QStringLiteral("page");
    case AddressKind::Image:
        return QStringLiteral("image");
    case AddressKind::Style:
        return QStringLiteral("style");
    case AddressKind::Script:
        return QStringLiteral("script");
    case AddressKind::Frame:
        return QStringLiteral("frame");
    case AddressKind::Media:
        return QStringLiteral("media");
    case AddressKind::Other:
        return QStringLiteral("other");
    }
    return QStringLiteral("other");
}

} // namespace skarnel
