#pragma once

class QSettings;

namespace skarnel {

class LinkList;

// The error texts whose presence marks a page as broken. The list starts with these two.
void fillInitialErrorTexts(LinkList &errors);

// Remove: deletes the current entry. With no entry current the list stays as it is.
void removeCurrentErrorText(LinkList &errors);

// The list as `store` keeps it, in place of the one held; false, changing nothing, when the
// store keeps none (a first start).
bool loadErrorTexts(LinkList &errors, QSettings &store);
// Keeps the list in `store` and writes it out at once.
void saveErrorTexts(const LinkList &errors, QSettings &store);

} // namespace skarnel
