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
};
