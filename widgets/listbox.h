#pragma once

#include <QAbstractScrollArea>
#include <QHash>
#include <QStringList>

namespace skarnel {

// A single-selection list box whose current entry is its selected one.
//
// Making an entry current selects it and scrolls it into view; -1 means no entry is current.
// Entries are drawn in rows of one height, and only the rows in view are drawn, so appending an
// entry or moving the selection costs the same for ten entries as for a hundred thousand; an
// index of the texts answers contains() just as fast.
//
// Screen readers see a list whose children are the entries, each with its text and whether it is
// the selected one. They are told of entries added and removed, and, while the list has the
// focus, of its current entry: when it changes and when the list gains the focus.
class ListBox final : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit ListBox(QWidget *parent = nullptr);

    qsizetype count() const { return items.size(); }
    qsizetype currentIndex() const { return current; }
    // Returns false, changing nothing, when there is no entry at `index`.
    bool setCurrentIndex(qsizetype index);
    // The text of the current entry, or an empty text when none is current.
    QString currentText() const;
    QString text(qsizetype index) const { return items.at(index); }
    bool contains(const QString &text) const { return occurrences.contains(text); }
    const QStringList &entries() const { return items; }
    // The row of the entry at `index` in the viewport's coordinates; empty when the row is out of
    // view or there is no such entry.
    QRect visualRect(qsizetype index) const;
    // The entry whose row holds `point`, in the viewport's coordinates; -1 when none does.
    qsizetype indexAt(QPoint point) const;

    void addItem(const QString &text);
    // Removes the entry at `index`; afterwards no entry is current.
    void removeItem(qsizetype index);
    void clear();

    QSize sizeHint() const override;

signals:
    // The current entry changed, by the program or by the user; -1 when none is current.
    void currentIndexChanged(qsizetype index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int rowHeight() const;
    qsizetype rowsInView() const;
    qsizetype rowAt(int y) const;
    void updateScrollRange();
    void scrollIntoView(qsizetype index);
    void updateRow(qsizetype index);
    void setCurrent(qsizetype index);
    void announceCurrent();

    QStringList items;
    QHash<QString, int> occurrences;
    qsizetype current = -1;
};

} // namespace skarnel
