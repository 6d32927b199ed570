#include "multilinetextbox.h"

#include <QAbstractTextDocumentLayout>
#include <QHelpEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolTip>

#include <utility>

namespace skarnel {

namespace {

// A frame of a 60 Hz screen.
constexpr int FrameMs = 16;

} // namespace

MultiLineTextBox::MultiLineTextBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    frameEnd.setSingleShot(true);
    frameEnd.setInterval(FrameMs);
    connect(&frameEnd, &QTimer::timeout, this, &MultiLineTextBox::applyPendingText);
}

void MultiLineTextBox::appendLine(const QString &line)
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line + QStringLiteral("\r\n"));
}

// The check puts every page it fetches into a box that lies under the list of internal links.
// QPlainTextEdit::setPlainText() lays out the first and the last line of the new text, to give
// the whole text the box's character format and to scroll its cursor into view: a third of a
// check's time on the window's thread, for a box nobody can see. While the box cannot be seen the
// text goes into the document directly. The layout's signals, which size the scroll range and ask
// for a redraw, are held back meanwhile, and the box catches up once it can be seen: it puts its
// cursor at the start, as setPlainText() would have, and gives those signals again for the
// document as it then is.
void MultiLineTextBox::setPlainText(const QString &text)
{
    pendingText.reset();
    frameEnd.stop();
    if (canBeSeen()) {
        QPlainTextEdit::setPlainText(text);
        return;
    }
    QTextDocument *doc = document();
    QAbstractTextDocumentLayout *layout = doc->documentLayout();
    const bool wasBlocked = layout->blockSignals(true);
    doc->setPlainText(text); // the plain text box's format is the document's default
    layout->blockSignals(wasBlocked);
    doc->setModified(false);
    layoutBehind = true;
}

// The check fetches hundreds of pages a second, and building a document for each of them was
// most of its processor time on the window's thread: a document is built for the last page of
// each frame only.
void MultiLineTextBox::setPlainTextSoon(const QString &text)
{
    pendingText = text;
    if (!frameEnd.isActive())
        frameEnd.start();
}

void MultiLineTextBox::applyPendingText()
{
    if (!pendingText)
        return;
    const QString text = *std::exchange(pendingText, std::nullopt);
    setPlainText(text);
}

void MultiLineTextBox::clear()
{
    pendingText.reset();
    frameEnd.stop();
    QPlainTextEdit::clear();
}

bool MultiLineTextBox::canBeSeen() const
{
    return isVisible() && (hasFocus() || !visibleRegion().isEmpty());
}

void MultiLineTextBox::catchUpLayout()
{
    if (!layoutBehind)
        return;
    layoutBehind = false;
    moveCursor(QTextCursor::Start);
    QAbstractTextDocumentLayout *layout = document()->documentLayout();
    emit layout->documentSizeChanged(layout->documentSize());
    viewport()->update();
}

// Whatever the user can do to the box arrives as an event to it or to its viewport: a redraw of
// an uncovered part, the focus, a key, the mouse, a resize. The box catches up before any of them,
// and puts in the text that waits for the frame's end first.
bool MultiLineTextBox::event(QEvent *event)
{
    if (layoutBehind || pendingText) {
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::Show:
        case QEvent::Resize:
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::InputMethod:
        case QEvent::InputMethodQuery:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
            applyPendingText();
            catchUpLayout();
            break;
        default:
            break;
        }
    }
    return QPlainTextEdit::event(event);
}

bool MultiLineTextBox::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && lineToolTip)
        return showLineToolTip(static_cast<const QHelpEvent &>(*event));
    if (layoutBehind || pendingText) {
        switch (event->type()) {
        case QEvent::Paint: // a text still waiting comes with the frame's end
            catchUpLayout();
            break;
        case QEvent::Resize:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::DragEnter:
        case QEvent::ContextMenu:
            applyPendingText();
            catchUpLayout();
            break;
        default:
            break;
        }
    }
    return QPlainTextEdit::viewportEvent(event);
}

QString MultiLineTextBox::lineToolTipAt(const QPoint &point)
{
    if (!lineToolTip)
        return {};
    applyPendingText();
    catchUpLayout();
    const QTextBlock block = cursorForPosition(point).block();
    // A point below the last line is on no line, though the cursor nearest to it is.
    if (!blockBoundingGeometry(block).translated(contentOffset()).contains(point))
        return {};
    return lineToolTip(block.text());
}

bool MultiLineTextBox::showLineToolTip(const QHelpEvent &event)
{
    const QString tip = lineToolTipAt(event.pos());
    if (tip.isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    const QTextBlock block = cursorForPosition(event.pos()).block();
    const QRect lineArea = blockBoundingGeometry(block).translated(contentOffset()).toAlignedRect();
    QToolTip::showText(event.globalPos(), tip, viewport(), lineArea);
    return true;
}

} // namespace skarnel
