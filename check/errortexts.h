#pragma once

class QSettings;
class QWidget;

namespace skarnel {

class ListBox;

// The error texts whose presence marks a page as broken. The list starts with these two.
void fillInitialErrorTexts(ListBox &errors);

// Add: asks for a text in the toolkit's modal input box and appends what it returns as it
// stands; Cancel appends an empty text.
void addErrorText(QWidget *owner, ListBox &errors);

// Remove: deletes the current entry. With no entry current the list stays as it is.
void removeCurrentErrorText(ListBox &errors);

// The list as `store` keeps it, in place of the one shown; false, changing nothing, when the
// store keeps none (a first start).
bool loadErrorTexts(ListBox &errors, QSettings &store);
// Keeps the list in `store` and writes it out at once.
void saveErrorTexts(const ListBox &errors, QSettings &store);

} // namespace skarnel
