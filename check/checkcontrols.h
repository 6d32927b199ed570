#pragma once

#include <QtGlobal>

#include <functional>

class QString;

namespace skarnel {

class CheckResults;
class LabelledCounter;
class ListBox;
class MultiLineTextBox;
class StopFlag;

// The parts of the window that a broken-link check reads and changes.
struct CheckControls
{
    ListBox &internal;
    ListBox &external;
    ListBox &errors;
    MultiLineTextBox &pageText;    // the start of the lower-cased text of the page fetched last
    MultiLineTextBox &brokenPages; // one broken page a line
    LabelledCounter &brokenCount;
    CheckResults &results; // the verdict of every page fetched, for the report and tooltips
    StopFlag &stop;
    bool loadAhead = true;
    // Told what the check does and how far it is ("checking 123 of 864"), once a page.
    std::function<void(const QString &doing)> progress = {};
};

} // namespace skarnel
