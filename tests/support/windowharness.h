#pragma once

#include "hangbound.h"
#include "scripteddocuments.h"
#include "scriptedtransfer.h"

#include <app/desktopshell.h>
#include <app/mainwindow.h>
#include <widgets/listbox.h>
#include <widgets/multilinetextbox.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace skarnel;

class RecordingShell final : public DesktopShell
{
public:
    bool openUrl(QWidget *, const QString &address) override
    {
        opened.append(address);
        return succeed;
    }
    QStringList opened;
    bool succeed = true;
};

// The start address of the scripted sites, and the address of `path` on them.
inline const QString Start = QStringLiteral("http://site.test");
inline QString at(const QString &path)
{
    return Start + path;
}

// Ways to reach a harness's window controls by their names and to drive its commands.
template<typename Harness>
struct WindowControls
{
    const MainWindow &mainWindow() const { return static_cast<const Harness *>(this)->window; }

    template<typename Control = QWidget>
    Control *get(const char *name) const
    {
        auto *control = mainWindow().template findChild<Control *>(QLatin1String(name));
        if (!control)
            qFatal("no control named %s", name);
        return control;
    }
    ListBox *list(const char *name) const { return get<ListBox>(name); }
    QStringList entries(const char *name) const { return list(name)->entries(); }
    QString caption(const char *name) const { return get<QLabel>(name)->text(); }
    QString text(const char *name) const
    {
        if (auto *box = mainWindow().template findChild<MultiLineTextBox *>(QLatin1String(name)))
            return box->toPlainText();
        return get<QLineEdit>(name)->text();
    }
    QStringList lines(const char *box) const
    {
        return text(box).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QPushButton *button(const char *name) const { return get<QPushButton>(name); }
    void trigger(const char *menuEntry) const { get<QAction>(menuEntry)->trigger(); }
    void click(const char *buttonName) const { button(buttonName)->click(); }

    void setAddress(const QString &address) const
    {
        get<QLineEdit>("txtAddress")->setText(address);
    }
    // The three long commands, each returning when it has run to its end.
    void crawl(const QString &address) const
    {
        setAddress(address);
        trigger("mnuCrawl");
    }
    void check() const { click("cmdCheckBroken"); }
    void findLinks(const QString &address) const
    {
        get<QLineEdit>("txtBrokenLink")->setText(address);
        click("cmdBrokenLinkCrawl");
    }
};

// The real window over scripted pages.
struct WindowHarness : WindowControls<WindowHarness>
{
    ScriptedDocumentService documents;
    ScriptedTransfer transfer;
    RecordingShell shell;
    MainWindow window {documents, transfer, shell};
};

// The name of the control that has the keyboard focus.
inline QString focusName()
{
    QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QStringLiteral("(none)");
}

// Shows `window` and waits until it is the active window.
inline void showActive(QWidget &window)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
}

// Runs `action` once the event loop next turns: inside the wait or yield the command is in.
template<typename Action>
void soon(Action action)
{
    QTimer::singleShot(0, QCoreApplication::instance(), action);
}
