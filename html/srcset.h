#pragma once

#include <QByteArrayView>

#include <optional>

namespace skarnel {

// Reads the next candidate of a srcset attribute from `at` and moves `at` past it, as a browser
// reads them: an address runs from the first character that is neither a space nor a comma to the
// next space, less the commas it ends with, which end the candidate; otherwise its descriptors
// follow up to a comma outside parentheses (at most one width "100w", or else one density "1.5x",
// and a height "50h" only beside a width). A candidate with wrong descriptors is passed over.
// Nothing once the attribute is read. In time linear in the attribute's length, all calls together.
std::optional<QByteArrayView> nextSrcsetCandidate(QByteArrayView srcset, qsizetype &at);

} // namespace skarnel
