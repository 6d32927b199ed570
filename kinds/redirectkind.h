#pragma once

#include <QString>

namespace skarnel {

// What the first answer to a request said of the address asked for.
enum class RedirectKind {
    // It was the answer itself, not a redirect.
    None,
    // Moved for good (301, 308): links to it are best updated.
    Permanent,
    // Elsewhere for now (302, 303, 307).
    Temporary,
};

// The kind as reports write it: permanent, temporary, or nothing without a redirect.
inline QString redirectKindName(RedirectKind kind)
{
    switch (kind) {
    case RedirectKind::None:
        return {};
    case RedirectKind::Permanent:
        return QStringLiteral("permanent");
    case RedirectKind::Temporary:
        return QStringLiteral("temporary");
    }
    return {};
}

} // namespace skarnel
