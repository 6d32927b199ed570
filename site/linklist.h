#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>

namespace skarnel {

// An unsorted list of texts with one current entry: a link list of the crawl, or the error texts.
//
// Entries are appended at the end and removed one at a time or all at once; an index of the texts
// answers contains() at once however long the list is. -1 means no entry is current. Views learn
// of every change through the model's signals: rows inserted and removed, the model reset, and
// currentIndexChanged, which is also emitted when the current entry is made current again, so that
// a view can bring it into sight each time a walk makes it current.
class LinkList final : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit LinkList(QObject *parent = nullptr);

    qsizetype count() const { return items.size(); }
    QString text(qsizetype index) const { return items.at(index); }
    const QStringList &entries() const { return items; }
    bool contains(const QString &text) const { return occurrences.contains(text); }

    qsizetype currentIndex() const { return current; }
    // Returns false, changing nothing, when there is no entry at `index`.
    bool setCurrentIndex(qsizetype index);
    // The text of the current entry, or an empty text when none is current.
    QString currentText() const;

    void append(const QString &text);
    // Removes the entry at `index`, if there is one; afterwards no entry is current.
    void removeAt(qsizetype index);
    void clear();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

signals:
    // `index` was made current, by the program or by the user; -1 when none is current.
    // `previous` is the entry that was current before, which may be the same one.
    void currentIndexChanged(qsizetype index, qsizetype previous);

private:
    void setCurrent(qsizetype index);

    QStringList items;
    QHash<QString, int> occurrences;
    qsizetype current = -1;
};

} // namespace skarnel
