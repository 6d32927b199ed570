#pragma once

#include <QObject>
#include <QPointer>

class QAction;
class QMenuBar;
class QWidget;

namespace skarnel {

// F10 opens the menu bar's first menu with its first entry chosen, as a lone Alt and then Down
// do. Like them it gives the bar the keyboard focus while its menus are open, so that Left and
// Right open the neighbouring menus, their first entry chosen, without the focus going back to a
// control in between: screen readers follow the chosen entry. When the menus close, the control
// that had the focus gets it back, before a chosen entry runs.
class MenuKeys final : public QObject
{
    Q_OBJECT

public:
    // The F10 shortcut is `window`'s; the bar must hold its menus already.
    MenuKeys(QWidget &window, QMenuBar &bar);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void open();
    void moveTo(QAction *menu, bool chooseFirst);
    void menuClosed();

    QMenuBar &bar;
    // The control that had the focus when F10 opened the menus; null when they were not opened so.
    QPointer<QWidget> returnTo;
    // While one menu closes for its neighbour to open.
    bool moving = false;
};

} // namespace skarnel
