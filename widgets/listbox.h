#pragma once

#include <QAbstractScrollArea>
#include <QPointer>
#include <QStringList>
#include <QTimer>

namespace skarnel {

class LinkList;

// A single-selection list box that shows a link list, its current entry as the selected one.
//
// Making an entry current, here or in the list itself, selects it and scrolls it into view; -1
// means no entry is current. Entries are drawn in rows of one height, and only the rows in view
// are drawn, so appending an entry or moving the selection costs the same for ten entries as for
// a hundred thousand. Without a list of its own to show, the box makes one; the calls that change
// the entries pass them on to the list it shows.
//
// Screen readers see a list whose children are the entries, each with its text and whether it is
// the selected one. They are told of entries added and removed, and, while the list has the
// focus, of its current entry: when it changes and when the list gains the focus.
class ListBox final : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit ListBox(QWidget *parent = nullptr);
    ~ListBox() override;

    // Shows `shown`, which outlives the box or is destroyed with it, in place of the list shown.
    void setList(LinkList &shown);
    LinkList &list() const { return *model; }

    qsizetype count() const;
    qsizetype currentIndex() const;
    // Returns false, changing nothing, when there is no entry at `index`.
    bool setCurrentIndex(qsizetype index);
    // The text of the current entry, or an empty text when none is current.
    QString currentText() const;
    QString text(qsizetype index) const;
    bool contains(const QString &text) const;
    const QStringList &entries() const;
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
    void showCurrent(qsizetype index, qsizetype previous);
    void announceCurrent();
    void rowsAdded(qsizetype first, qsizetype last);
    void rowsGone(qsizetype first, qsizetype last);
    void listReset();
    void announceAdded();

    LinkList *model = nullptr;
    // The list the box made for itself, when it shows no other.
    std::unique_ptr<LinkList> ownList;
    // Whether screen readers are still to be told of entries added since they were last told.
    QTimer addedAnnouncement;
};

} // namespace skarnel
