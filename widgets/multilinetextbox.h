#pragma once

#include <QPlainTextEdit>
#include <QTimer>

#include <functional>
#include <optional>

class QHelpEvent;

namespace skarnel {

// A multi-line text box: plain text only (a page's text is never rendered), long lines wrapped,
// no scroll bars, editable by the user, Tab moving the focus on.
class MultiLineTextBox final : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit MultiLineTextBox(QWidget *parent = nullptr);

    // Appends `line` and a line break after whatever the box holds, the user's typing included.
    void appendLine(const QString &line);

    // Replaces the text, as QPlainTextEdit::setPlainText() does: the same document, the same
    // signals. While nobody can see the box (hidden, or covered by other controls, and without
    // the focus), the work that only serves drawing and scrolling (laying out lines to size the
    // scroll range, putting the cursor at the start of the text and scrolling to it) is left
    // until the box can be seen or takes the focus.
    void setPlainText(const QString &text);

    // Replaces the text as setPlainText() does, at the end of the screen's frame rather than at
    // once: of the texts given within one frame only the last is put in, which is what a user
    // could have seen. Anything the user does to the box, and applyPendingText(), put it in at
    // once; setPlainText() and clear() drop it.
    void setPlainTextSoon(const QString &text);
    // Puts in the text given to setPlainTextSoon() now, if one is waiting.
    void applyPendingText();
    // Empties the box at once, dropping a text that waits.
    void clear();

    // The tooltip of the line under the mouse: `tip` gets the line's text and answers the tooltip,
    // or an empty text for none.
    void setLineToolTip(std::function<QString(const QString &line)> tip)
    {
        lineToolTip = std::move(tip);
    }
    // The tooltip of the line at `point` of the viewport; empty below the last line.
    QString lineToolTipAt(const QPoint &point);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    bool canBeSeen() const;
    void catchUpLayout();

    bool showLineToolTip(const QHelpEvent &event);

    bool layoutBehind = false;
    std::optional<QString> pendingText;
    QTimer frameEnd;
    std::function<QString(const QString &line)> lineToolTip;
};

} // namespace skarnel
