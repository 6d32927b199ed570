#include "listbox.h"

#include <QItemSelectionModel>

int ListBoxModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(entries.size());
}

QVariant ListBoxModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= entries.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return entries.at(index.row());
    return {};
}

void ListBoxModel::append(const QString &text)
{
    const int row = int(entries.size());
    beginInsertRows({}, row, row);
    entries.append(text);
    ++occurrences[text];
    endInsertRows();
}

void ListBoxModel::removeAt(qsizetype index)
{
    beginRemoveRows({}, int(index), int(index));
    const QString text = entries.takeAt(index);
    if (auto it = occurrences.find(text); it != occurrences.end() && --it.value() == 0)
        occurrences.erase(it);
    endRemoveRows();
}

void ListBoxModel::clear()
{
    beginResetModel();
    entries.clear();
    occurrences.clear();
    endResetModel();
}

ListBox::ListBox(QWidget *parent)
    : QListView(parent)
{
    setModel(&model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setLayoutMode(QListView::SinglePass);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideRight);
}

qsizetype ListBox::currentIndex() const
{
    const QModelIndex current = selectionModel()->currentIndex();
    if (!current.isValid() || !selectionModel()->isSelected(current))
        return -1;
    return current.row();
}

bool ListBox::setCurrentIndex(qsizetype index)
{
    if (index < 0 || index >= model.count())
        return false;
    const QModelIndex item = model.index(int(index));
    selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    scrollTo(item);
    return true;
}

QString ListBox::currentText() const
{
    const qsizetype index = currentIndex();
    return index < 0 ? QString() : model.at(index);
}

void ListBox::addItem(const QString &text)
{
    model.append(text);
}

void ListBox::removeItem(qsizetype index)
{
    if (index < 0 || index >= model.count())
        return;
    model.removeAt(index);
    selectionModel()->clear();
}

void ListBox::clear()
{
    model.clear();
    selectionModel()->clear();
}
