#include "multilinetextbox.h"

#include <QAbstractTextDocumentLayout>
#include <QHelpEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolTip>

namespace skarnel {

MultiLineTextBox::MultiLineTextBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
}

void MultiLineTextBox::appendLine(const QString &line)
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line + QStringLiteral("\r\n"));
}

// The check puts every page it fetches into a box that lies under the list of internal links:
// laying out the end of each page to size a scroll range nobody uses cost a third of the
// box's time. The layout tells the box about the document's new size and asks for a redraw
// through its signals; those are held back while the text is replaced and given again, for
// the document as it then is, once the box can be seen.
void MultiLineTextBox::setPlainText(const QString &text)
{
    if (canBeSeen()) {
        QPlainTextEdit::setPlainText(text);
        return;
    }
    QAbstractTextDocumentLayout *layout = document()->documentLayout();
    const bool wasBlocked = layout->blockSignals(true);
    QPlainTextEdit::setPlainText(text);
    layout->blockSignals(wasBlocked);
    layoutBehind = true;
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
    QAbstractTextDocumentLayout *layout = document()->documentLayout();
    emit layout->documentSizeChanged(layout->documentSize());
    viewport()->update();
}

// Whatever the user can do to the box arrives as an event to it or to its viewport: a redraw of
// an uncovered part, the focus, a key, the mouse, a resize. The box catches up before any of them.
bool MultiLineTextBox::event(QEvent *event)
{
    if (layoutBehind) {
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
    if (layoutBehind) {
        switch (event->type()) {
        case QEvent::Paint:
        case QEvent::Resize:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::DragEnter:
        case QEvent::ContextMenu:
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
