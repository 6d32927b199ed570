#include "linklist.h"

#include <limits>

namespace skarnel {

namespace {

int asRow(qsizetype index)
{
    return int(std::min<qsizetype>(index, std::numeric_limits<int>::max()));
}

} // namespace

LinkList::LinkList(QObject *parent)
    : QAbstractListModel(parent)
{
}

bool LinkList::setCurrentIndex(qsizetype index)
{
    if (index < 0 || index >= items.size())
        return false;
    setCurrent(index);
    return true;
}

QString LinkList::currentText() const
{
    return current < 0 ? QString() : items.at(current);
}

void LinkList::append(const QString &text)
{
    const int row = asRow(items.size());
    beginInsertRows(QModelIndex(), row, row);
    items.append(text);
    ++occurrences[text];
    endInsertRows();
}

void LinkList::removeAt(qsizetype index)
{
    if (index < 0 || index >= items.size())
        return;
    beginRemoveRows(QModelIndex(), asRow(index), asRow(index));
    const QString text = items.takeAt(index);
    if (auto it = occurrences.find(text); it != occurrences.end() && --it.value() == 0)
        occurrences.erase(it);
    // The entries after it move up: none is current any more, and a view must not be told of a
    // current entry that has moved before it has seen the rows go.
    const qsizetype previous = std::exchange(current, -1);
    endRemoveRows();
    if (previous >= 0)
        emit currentIndexChanged(-1, previous);
}

void LinkList::clear()
{
    beginResetModel();
    items.clear();
    occurrences.clear();
    const qsizetype previous = std::exchange(current, -1);
    endResetModel();
    if (previous >= 0)
        emit currentIndexChanged(-1, previous);
}

int LinkList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : asRow(items.size());
}

QVariant LinkList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= items.size()
        || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return items.at(index.row());
}

void LinkList::setCurrent(qsizetype index)
{
    const qsizetype previous = std::exchange(current, index);
    emit currentIndexChanged(current, previous);
}

} // namespace skarnel
