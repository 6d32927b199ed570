#pragma once

#include <QtGlobal>

#include <functional>

class QString;

class QLineEdit;

namespace skarnel {

class ListBox;
class MultiLineTextBox;
class StopFlag;

// The parts of the window that a referring-page search reads and changes.
struct ReferrerControls
{
    ListBox &internal;
    QLineEdit &link;           // the address to look for, read once per page
    MultiLineTextBox &results; // one referring page a line, only ever appended to
    StopFlag &stop;
    bool loadAhead = true;
    // Told what the search does and how far it is ("searching 5 of 40"), once a page.
    std::function<void(const QString &doing)> progress = {};
};

} // namespace skarnel
