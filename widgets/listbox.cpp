#include "listbox.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>

#include <site/linklist.h>

#include <algorithm>

namespace skarnel {

namespace {

constexpr int RowPadding = 2;
constexpr int TextIndent = 2;
// How long after an entry is added the screen readers are told of it, with the others added
// meanwhile.
constexpr int AddedAnnouncementDelay = 250;

// `text` cut to `width` pixels with an ellipsis when it is longer. Eliding measures every character
// it is given, and an entry may be an address of megabytes: only as many characters as could fit,
// at a pixel or more each, are measured, with an ellipsis after them when the text goes on.
QString elided(const QString &text, const QFontMetrics &metrics, int width)
{
    const qsizetype fits = qsizetype(std::max(width, 0)) + 1;
    if (text.size() <= fits)
        return metrics.elidedText(text, Qt::ElideRight, width);
    return metrics.elidedText(text.first(fits) + QChar(0x2026), Qt::ElideRight, width);
}

// One entry of a list box as screen readers see it. It names its entry by row, so it follows the
// list as entries come and go, and is invalid while the list has fewer rows.
class ListBoxEntryAccessible final : public QAccessibleInterface
{
public:
    ListBoxEntryAccessible(ListBox *list, int row)
        : list(list)
        , row(row)
    {
    }

    bool isValid() const override { return list && row < list->count(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return list ? list->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(list);
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString &) override { }

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Name && isValid() ? list->text(row) : QString();
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect inView = list->visualRect(row);
        return inView.isEmpty()
                       ? QRect()
                       : QRect(list->viewport()->mapToGlobal(inView.topLeft()), inView.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const bool current = list->currentIndex() == row;
        state.selectable = true;
        state.focusable = true;
        state.selected = current;
        state.focused = current && list->hasFocus();
        state.disabled = !list->isEnabled();
        state.offscreen = list->visualRect(row).isEmpty();
        return state;
    }

    bool belongsTo(const ListBox *owner) const { return list == owner; }
    int index() const { return row; }

private:
    QPointer<ListBox> list;
    int row = 0;
};

// A list box as screen readers see it: a list whose children are its entries. The entries'
// interfaces are made when first asked for and live as long as this one.
class ListBoxAccessible final : public QAccessibleWidget
{
public:
    explicit ListBoxAccessible(ListBox *list)
        : QAccessibleWidget(list, QAccessible::List)
    {
    }

    ~ListBoxAccessible() override
    {
        for (QAccessible::Id id : std::as_const(entries))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override
    {
        return int(std::min<qsizetype>(list()->count(), std::numeric_limits<int>::max()));
    }

    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (auto found = entries.constFind(index); found != entries.cend())
            return QAccessible::accessibleInterface(found.value());
        auto *entry = new ListBoxEntryAccessible(list(), index);
        entries.insert(index, QAccessible::registerAccessibleInterface(entry));
        return entry;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *entry = dynamic_cast<const ListBoxEntryAccessible *>(child);
        return entry && entry->belongsTo(list()) && entry->isValid() ? entry->index() : -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const qsizetype row = list()->indexAt(list()->viewport()->mapFromGlobal(QPoint(x, y)));
        return row < 0 ? nullptr : child(int(row));
    }

    QAccessibleInterface *focusChild() const override
    {
        return list()->hasFocus() && list()->currentIndex() >= 0
                       ? child(int(list()->currentIndex()))
                       : nullptr;
    }

private:
    ListBox *list() const { return static_cast<ListBox *>(widget()); }

    mutable QHash<int, QAccessible::Id> entries;
};

// Screen readers that keep their own copy of a list learn from this which of its rows changed;
// -1 rows for a change of the whole list. Told only while one is attached, so that a crawl
// appending thousands of entries costs nothing more without one.
void announceRows(ListBox *list, QAccessibleTableModelChangeEvent::ModelChangeType change,
                  qsizetype first = -1, qsizetype last = -1)
{
    if (!QAccessible::isActive())
        return;
    constexpr qsizetype Largest = std::numeric_limits<int>::max();
    QAccessibleTableModelChangeEvent event(list, change);
    event.setFirstRow(int(std::min(first, Largest)));
    event.setLastRow(int(std::min(last, Largest)));
    QAccessible::updateAccessibility(&event);
}

// Tells the readers that entries are about to go, through the interface of the entry at `row`
// while it is still there: Qt's bridge to the desktop's readers passes on no change of a list's
// rows, but it passes on a child destroyed, which has a reader read the list's children again.
void announceGoing(ListBox *list, qsizetype row)
{
    if (!QAccessible::isActive() || row < 0 || row >= list->count())
        return;
    QAccessibleEvent destroyed(list, QAccessible::ObjectDestroyed);
    destroyed.setChild(int(std::min<qsizetype>(row, std::numeric_limits<int>::max())));
    QAccessible::updateAccessibility(&destroyed);
}

QAccessibleInterface *accessibleListBox(const QString &className, QObject *object)
{
    if (className == QLatin1String(ListBox::staticMetaObject.className()))
        if (auto *list = qobject_cast<ListBox *>(object))
            return new ListBoxAccessible(list);
    return nullptr;
}

} // namespace

ListBox::ListBox(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    [[maybe_unused]] static const bool accessible = [] {
        QAccessible::installFactory(accessibleListBox);
        return true;
    }();
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
    addedAnnouncement.setSingleShot(true);
    addedAnnouncement.setInterval(AddedAnnouncementDelay);
    connect(&addedAnnouncement, &QTimer::timeout, this, &ListBox::announceAdded);

    ownList = std::make_unique<LinkList>();
    setList(*ownList);
}

ListBox::~ListBox() = default;

void ListBox::setList(LinkList &shown)
{
    if (model)
        disconnect(model, nullptr, this, nullptr);
    model = &shown;
    if (model != ownList.get())
        ownList.reset();
    connect(model, &LinkList::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { rowsAdded(first, last); });
    connect(model, &LinkList::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) { rowsGone(first, last); });
    connect(model, &LinkList::modelReset, this, &ListBox::listReset);
    connect(model, &LinkList::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int) { announceGoing(this, first); });
    connect(model, &LinkList::modelAboutToBeReset, this, [this] { announceGoing(this, 0); });
    connect(model, &LinkList::currentIndexChanged, this, &ListBox::showCurrent);
    updateScrollRange();
    viewport()->update();
}

qsizetype ListBox::count() const
{
    return model->count();
}

qsizetype ListBox::currentIndex() const
{
    return model->currentIndex();
}

bool ListBox::setCurrentIndex(qsizetype index)
{
    return model->setCurrentIndex(index);
}

QString ListBox::currentText() const
{
    return model->currentText();
}

QString ListBox::text(qsizetype index) const
{
    return model->text(index);
}

bool ListBox::contains(const QString &text) const
{
    return model->contains(text);
}

const QStringList &ListBox::entries() const
{
    return model->entries();
}

QRect ListBox::visualRect(qsizetype index) const
{
    const qsizetype offset = index - verticalScrollBar()->value();
    if (index < 0 || index >= count() || offset < 0 || offset >= rowsInView())
        return {};
    return {0, int(offset) * rowHeight(), viewport()->width(), rowHeight()};
}

qsizetype ListBox::indexAt(QPoint point) const
{
    return viewport()->rect().contains(point) ? rowAt(point.y()) : -1;
}

void ListBox::addItem(const QString &text)
{
    model->append(text);
}

void ListBox::removeItem(qsizetype index)
{
    model->removeAt(index);
}

void ListBox::clear()
{
    model->clear();
}

void ListBox::rowsAdded(qsizetype first, qsizetype last)
{
    updateScrollRange();
    for (qsizetype row = first; row <= last; ++row)
        updateRow(row);
    announceRows(this, QAccessibleTableModelChangeEvent::RowsInserted, first, last);
    if (QAccessible::isActive() && !addedAnnouncement.isActive())
        addedAnnouncement.start();
}

void ListBox::rowsGone(qsizetype first, qsizetype last)
{
    updateScrollRange();
    viewport()->update();
    announceRows(this, QAccessibleTableModelChangeEvent::RowsRemoved, first, last);
}

void ListBox::listReset()
{
    updateScrollRange();
    viewport()->update();
    announceRows(this, QAccessibleTableModelChangeEvent::ModelReset);
}

// Qt's bridge to the desktop's screen readers passes on no change of a list's rows; it passes on
// a child created, which has a reader read the list's children again. A crawl adds entries by the
// thousand: the readers are told once for all the entries added within a short while, through
// the last of them.
void ListBox::announceAdded()
{
    if (!QAccessible::isActive() || count() == 0)
        return;
    QAccessibleEvent created(this, QAccessible::ObjectCreated);
    created.setChild(int(std::min<qsizetype>(count() - 1, std::numeric_limits<int>::max())));
    QAccessible::updateAccessibility(&created);
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
    return row < count() ? row : -1;
}

// The scroll bar counts rows: its value is the first row in view.
void ListBox::updateScrollRange()
{
    const qsizetype last = std::max<qsizetype>(0, count() - rowsInView());
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

// The list made `index` current; `previous` was current before, and may be the same entry.
void ListBox::showCurrent(qsizetype index, qsizetype previous)
{
    if (index != previous) {
        updateRow(previous);
        updateRow(index);
        emit currentIndexChanged(index);
        // The selection is told whether or not the list has the focus, as Qt's own lists do; the
        // focus, told last, is what a screen reader reads out.
        if (index >= 0 && QAccessible::isActive()) {
            QAccessibleEvent selection(this, QAccessible::Selection);
            selection.setChild(int(index));
            QAccessible::updateAccessibility(&selection);
            if (hasFocus())
                announceCurrent();
        }
    }
    if (index >= 0)
        scrollIntoView(index);
}

void ListBox::announceCurrent()
{
    QAccessibleEvent focus(this, QAccessible::Focus);
    focus.setChild(int(currentIndex()));
    QAccessible::updateAccessibility(&focus);
}

void ListBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const int height = rowHeight();
    const QRect area = event->rect();
    const qsizetype first = verticalScrollBar()->value() + area.top() / height;
    const QStringList &items = entries();
    const qsizetype current = currentIndex();
    const qsizetype last = std::min<qsizetype>(items.size() - 1, verticalScrollBar()->value()
                                                                         + area.bottom() / height);
    const int width = viewport()->width();
    for (qsizetype row = first; row <= last; ++row) {
        const QRect rowRect(0, int(row - verticalScrollBar()->value()) * height, width, height);
        const bool selected = row == current;
        if (selected)
            painter.fillRect(rowRect, palette().brush(QPalette::Highlight));
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rowRect.adjusted(TextIndent, 0, -TextIndent, 0),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         elided(items.at(row), fontMetrics(), width - 2 * TextIndent));
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
    if (count() == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const qsizetype current = currentIndex();
    const qsizetype last = count() - 1;
    const qsizetype from = current < 0 ? 0 : current;
    qsizetype to = -1;
    switch (event->key()) {
    case Qt::Key_Up:
        to = current < 0 ? 0 : std::max<qsizetype>(0, from - 1);
        break;
    case Qt::Key_Down:
        to = current < 0 ? 0 : std::min(last, from + 1);
        break;
    case Qt::Key_PageUp:
        to = std::max<qsizetype>(0, from - rowsInView());
        break;
    case Qt::Key_PageDown:
        to = std::min(last, from + rowsInView());
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    case Qt::Key_End:
        to = last;
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    setCurrentIndex(to);
}

// The reader is told that the list itself has the focus only after this returns; the current
// entry, the one a crawl or check is working on, is announced after that so that it is read.
void ListBox::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    if (!QAccessible::isActive() || currentIndex() < 0)
        return;
    QMetaObject::invokeMethod(
            this,
            [this] {
                if (hasFocus() && currentIndex() >= 0 && QAccessible::isActive())
                    announceCurrent();
            },
            Qt::QueuedConnection);
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

} // namespace skarnel
