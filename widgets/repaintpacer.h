#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

namespace skarnel {

// Keeps a window from redrawing more often than a screen shows it. A long command hands control
// back to the event loop after every link it records, thousands of times a second, and each time
// the window would redraw its lists and labels: more than half of a crawl's time. A redraw asked
// for within a frame of the last one is held back and done when the frame is over, so what the
// window shows is never more than a frame behind, and only the redraws nobody could see are
// saved. Events of every other kind pass as they come.
class RepaintPacer final : public QObject
{
public:
    // Paces `window`, a top-level widget, for as long as it lives.
    explicit RepaintPacer(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void redrawHeldBack();

    QWidget *window = nullptr;
    QElapsedTimer sinceRedraw;
    QTimer frameEnd;
    bool released = false;
};

} // namespace skarnel
