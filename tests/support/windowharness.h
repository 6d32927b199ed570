#pragma once

#include "scripteddocuments.h"
#include "scriptedtransfer.h"

#include <app/mainwindow.h>
#include <platform/listbox.h>
#include <platform/shell.h>
#include <platform/textbox.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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

// The real window over scripted pages, with ways to reach its controls by their names.
struct WindowHarness
{
    ScriptedDocumentService documents;
    ScriptedTransfer transfer;
    RecordingShell shell;
    MainWindow window{documents, transfer, shell};

    template<typename Control = QWidget>
    Control *get(const char *name) const
    {
        auto *control = window.findChild<Control *>(QLatin1String(name));
        if (!control)
            qFatal("no control named %s", name);
        return control;
    }
    ListBox *list(const char *name) const { return get<ListBox>(name); }
    QStringList entries(const char *name) const { return list(name)->entries(); }
    QString caption(const char *name) const { return get<QLabel>(name)->text(); }
    QString text(const char *name) const
    {
        if (auto *box = window.findChild<MultiLineTextBox *>(QLatin1String(name)))
            return box->toPlainText();
        return get<QLineEdit>(name)->text();
    }
    QPushButton *button(const char *name) const { return get<QPushButton>(name); }
    void trigger(const char *menuEntry) const { get<QAction>(menuEntry)->trigger(); }
    void click(const char *buttonName) const { button(buttonName)->click(); }

    void setAddress(const QString &address) const { get<QLineEdit>("txtAddress")->setText(address); }
    void crawl(const QString &address) const
    {
        setAddress(address);
        trigger("mnuCrawl");
    }
};

// Runs `action` once the event loop next turns: inside the wait or yield the command is in.
template<typename Action>
void soon(Action action)
{
    QTimer::singleShot(0, QCoreApplication::instance(), action);
}
