#include "listbox.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

namespace {

constexpr int RowPadding = 2;
constexpr int TextIndent = 2;

} // namespace

ListBox::ListBox(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
}

bool ListBox::setCurrentIndex(qsizetype index)
{
    if (index < 0 || index >= items.size())
        return false;
    setCurrent(index);
    scrollIntoView(index);
    return true;
}

QString ListBox::currentText() const
{
    return current < 0 ? QString() : items.at(current);
}

void ListBox::addItem(const QString &text)
{
    items.append(text);
    ++occurrences[text];
    updateScrollRange();
    updateRow(items.size() - 1);
}

void ListBox::removeItem(qsizetype index)
{
    if (index < 0 || index >= items.size())
        return;
    const QString text = items.takeAt(index);
    if (auto it = occurrences.find(text); it != occurrences.end() && --it.value() == 0)
        occurrences.erase(it);
    setCurrent(-1);
    updateScrollRange();
    viewport()->update();
}

void ListBox::clear()
{
    items.clear();
    occurrences.clear();
    setCurrent(-1);
    updateScrollRange();
    viewport()->update();
}

QSize ListBox::sizeHint() const
{
    return {200, rowHeight() * 6};
}

int ListBox::rowHeight() const
{
    return fontMetrics().height() + RowPadding;
}

qsizetype ListBox::rowsInView() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

qsizetype ListBox::rowAt(int y) const
{
    const qsizetype row = verticalScrollBar()->value() + y / rowHeight();
    return row < items.size() ? row : -1;
}

// The scroll bar counts rows: its value is the first row in view.
void ListBox::updateScrollRange()
{
    const qsizetype last = std::max<qsizetype>(0, items.size() - rowsInView());
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, int(std::min<qsizetype>(last, std::numeric_limits<int>::max())));
    bar->setPageStep(int(rowsInView()));
}

void ListBox::scrollIntoView(qsizetype index)
{
    QScrollBar *bar = verticalScrollBar();
    if (index < bar->value())
        bar->setValue(int(index));
    else if (index >= bar->value() + rowsInView())
        bar->setValue(int(index - rowsInView() + 1));
}

void ListBox::updateRow(qsizetype index)
{
    const qsizetype offset = index - verticalScrollBar()->value();
    if (offset >= 0 && offset <= rowsInView())
        viewport()->update(0, int(offset) * rowHeight(), viewport()->width(), rowHeight());
}

void ListBox::setCurrent(qsizetype index)
{
    if (index == current)
        return;
    const qsizetype previous = current;
    current = index;
    updateRow(previous);
    updateRow(current);
    emit currentIndexChanged(current);
    if (current >= 0 && QAccessible::isActive()) {
        QAccessibleEvent focus(this, QAccessible::Selection);
        focus.setChild(int(current));
        QAccessible::updateAccessibility(&focus);
    }
}

void ListBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const int height = rowHeight();
    const QRect area = event->rect();
    const qsizetype first = verticalScrollBar()->value() + area.top() / height;
    const qsizetype last = std::min<qsizetype>(items.size() - 1,
                                    verticalScrollBar()->value() + area.bottom() / height);
    const int width = viewport()->width();
    for (qsizetype row = first; row <= last; ++row) {
        const QRect rowRect(0, int(row - verticalScrollBar()->value()) * height, width, height);
        const bool selected = row == current;
        if (selected)
            painter.fillRect(rowRect, palette().brush(QPalette::Highlight));
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rowRect.adjusted(TextIndent, 0, -TextIndent, 0),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         fontMetrics().elidedText(items.at(row), Qt::ElideRight, width - 2 * TextIndent));
        if (selected && hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::HighlightedText), 1, Qt::DotLine));
            painter.drawRect(rowRect.adjusted(0, 0, -1, -1));
        }
    }
}

void ListBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const qsizetype row = rowAt(event->position().toPoint().y());
    if (row >= 0)
        setCurrentIndex(row);
}

void ListBox::keyPressEvent(QKeyEvent *event)
{
    if (items.isEmpty()) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const qsizetype last = items.size() - 1;
    const qsizetype from = current < 0 ? 0 : current;
    qsizetype to = -1;
    switch (event->key()) {
    case Qt::Key_Up: to = current < 0 ? 0 : std::max<qsizetype>(0, from - 1); break;
    case Qt::Key_Down: to = current < 0 ? 0 : std::min(last, from + 1); break;
    case Qt::Key_PageUp: to = std::max<qsizetype>(0, from - rowsInView()); break;
    case Qt::Key_PageDown: to = std::min(last, from + rowsInView()); break;
    case Qt::Key_Home: to = 0; break;
    case Qt::Key_End: to = last; break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    setCurrentIndex(to);
}

void ListBox::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

void ListBox::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateScrollRange();
}
