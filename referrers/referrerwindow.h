#pragma once

#include <QtGlobal>

class HtmlDocumentService;
class ListBox;
class QLineEdit;
class MultiLineTextBox;

// The parts of the window that a referring-page search reads and changes.
struct ReferrerWindow
{
    ListBox &internal;
    QLineEdit &link;          // the address to look for, read once per page
    MultiLineTextBox &results;  // one referring page a line, only ever appended to
    qint16 &stopRequested;
    HtmlDocumentService &documents;
    bool loadAhead = true;
};
