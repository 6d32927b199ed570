#include "menukeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QShortcut>

#include <algorithm>

namespace skarnel {

namespace {

bool opensMenu(const QAction *action)
{
    return action && action->isVisible() && action->isEnabled() && action->menu()
           && action->menu()->isEnabled();
}

QAction *firstEntry(const QMenu &menu)
{
    for (QAction *entry : menu.actions())
        if (entry->isVisible() && entry->isEnabled() && !entry->isSeparator())
            return entry;
    return nullptr;
}

} // namespace

MenuKeys::MenuKeys(QWidget &window, QMenuBar &bar)
    : QObject(&window)
    , bar(bar)
{
    auto *openMenus = new QShortcut(QKeySequence(Qt::Key_F10), &window);
    openMenus->setObjectName(QStringLiteral("openMenus"));
    connect(openMenus, &QShortcut::activated, this, &MenuKeys::open);
    bar.installEventFilter(this);
    for (QAction *action : bar.actions()) {
        if (QMenu *menu = action->menu()) {
            menu->installEventFilter(this);
            connect(menu, &QMenu::aboutToHide, this, &MenuKeys::menuClosed);
        }
    }
}

void MenuKeys::open()
{
    const QList<QAction *> menus = bar.actions();
    const auto first = std::find_if(menus.begin(), menus.end(), opensMenu);
    if (first == menus.end())
        return;
    // After a lone Alt the bar has the focus already, and gives it back itself.
    if (QWidget *focus = QApplication::focusWidget(); focus != &bar) {
        returnTo = focus;
        bar.setFocus(Qt::MenuBarFocusReason);
    }
    moveTo(*first, true);
}

void MenuKeys::moveTo(QAction *menu, bool chooseFirst)
{
    QScopedValueRollback still(moving, true);
    bar.setActiveAction(menu);
    if (QAction *entry = chooseFirst ? firstEntry(*menu->menu()) : nullptr)
        menu->menu()->setActiveAction(entry);
}

// When F10's menus close, the bar, which has the focus, would give it to no other control: it
// goes back to the one F10 took it from. A chosen entry runs only after its menu has closed, so
// it finds the focus there. After Escape the bar, where the style lets it, is chosen as after a
// lone Alt, and gives the focus back itself when left.
void MenuKeys::menuClosed()
{
    if (moving || !returnTo)
        return;
    QWidget *control = returnTo;
    returnTo = nullptr;
    if (bar.hasFocus() && control->isVisible() && control->isEnabled()
        && control->focusPolicy() != Qt::NoFocus)
        control->setFocus(Qt::MenuBarFocusReason);
}

// While F10's menus are open, Left and Right in a menu, and the mouse over another menu's title,
// move to that menu here rather than in the bar, which would briefly give the focus back to the
// control that had it.
bool MenuKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (!returnTo || moving)
        return false;
    const QList<QAction *> menus = bar.actions();
    QAction *to = nullptr;
    bool chooseFirst = false;
    if (event->type() == QEvent::KeyPress && watched != &bar) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        qsizetype step = key == Qt::Key_Right ? 1 : key == Qt::Key_Left ? -1 : 0;
        const qsizetype from = menus.indexOf(bar.activeAction());
        if (bar.isRightToLeft())
            step = -step;
        // Forward opens the chosen entry's own menu, if it has one.
        const QAction *chosen = static_cast<QMenu *>(watched)->activeAction();
        if (step == 0 || from < 0 || (step == 1 && chosen && chosen->menu()))
            return false;
        const qsizetype count = menus.size();
        for (qsizetype i = 1; i < count && !to; ++i) {
            QAction *candidate = menus.at(((from + step * i) % count + count) % count);
            if (opensMenu(candidate))
                to = candidate;
        }
        chooseFirst = true;
    } else if ((event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonPress)
               && watched == &bar && QApplication::activePopupWidget()) {
        to = bar.actionAt(static_cast<QMouseEvent *>(event)->position().toPoint());
        if (to == bar.activeAction() || !opensMenu(to))
            return false;
    }
    if (!to)
        return false;
    moveTo(to, chooseFirst);
    return true;
}

} // namespace skarnel
