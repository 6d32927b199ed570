#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QListView>
#include <QStringList>

// The entries of a list box, in insertion order, with an index of their texts so that asking
// whether a text is listed costs the same for ten entries as for a hundred thousand.
class ListBoxModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    qsizetype count() const { return entries.size(); }
    const QString &at(qsizetype index) const { return entries.at(index); }
    bool contains(const QString &text) const { return occurrences.contains(text); }
    const QStringList &all() const { return entries; }

    void append(const QString &text);
    void removeAt(qsizetype index);
    void clear();

private:
    QStringList entries;
    QHash<QString, int> occurrences;
};

// A single-selection list box whose current entry is its selected one. Making an entry current
// selects it and scrolls it into view; -1 means no entry is current.
class ListBox final : public QListView
{
    Q_OBJECT

public:
    explicit ListBox(QWidget *parent = nullptr);

    qsizetype count() const { return model.count(); }
    qsizetype currentIndex() const;
    // Returns false, changing nothing, when there is no entry at `index`.
    bool setCurrentIndex(qsizetype index);
    // The text of the current entry, or an empty text when none is current.
    QString currentText() const;
    QString text(qsizetype index) const { return model.at(index); }
    bool contains(const QString &text) const { return model.contains(text); }
    const QStringList &entries() const { return model.all(); }

    void addItem(const QString &text);
    // Removes the entry at `index`; afterwards no entry is current.
    void removeItem(qsizetype index);
    void clear();

private:
    ListBoxModel model;
};
