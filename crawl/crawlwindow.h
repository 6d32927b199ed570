#pragma once

#include <QtGlobal>

class HtmlDocumentService;
class LabelledCounter;
class ListBox;
class QLineEdit;
class QPushButton;
class QWidget;

// The parts of the window that a crawl reads and changes. The window owns them all and outlives
// every crawl it starts.
struct CrawlWindow
{
    QWidget &window;
    QLineEdit &address;
    QPushButton &crawl;
    QPushButton &forceStop;
    QPushButton &checkBroken;
    ListBox &internal;
    ListBox &external;
    LabelledCounter &internalCount;
    LabelledCounter &externalCount;
    LabelledCounter &totalCount;
    qint16 &stopRequested;
    HtmlDocumentService &documents;
    bool loadAhead = true;
};
