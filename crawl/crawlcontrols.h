#pragma once

#include <QtGlobal>

#include <functional>

class QLineEdit;
class QPushButton;
class QWidget;

namespace skarnel {

class LabelledCounter;
class LinkOrigins;
class ListBox;
class StopFlag;

// The parts of the window that a crawl reads and changes. The window owns them all and outlives
// every crawl it starts.
struct CrawlControls
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
    StopFlag &stop;
    LinkOrigins &origins; // where each link was found, for the report and the tooltips
    bool loadAhead = true;
    // Told what the crawl does and how far it is ("crawling 12 of 40"), at most once a page.
    std::function<void(const QString &doing)> progress = {};
};

} // namespace skarnel
