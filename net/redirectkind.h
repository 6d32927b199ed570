#pragma once

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

} // namespace skarnel
