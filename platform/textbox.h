#pragma once

#include <QPlainTextEdit>

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
    // the focus), the work that only serves drawing and scrolling (laying out the last lines to
    // size the scroll range) is left until the box can be seen or takes the focus.
    void setPlainText(const QString &text);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    bool canBeSeen() const;
    void catchUpLayout();

    bool layoutBehind = false;
};
