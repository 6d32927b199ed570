#include "errortexts.h"

#include <platform/listbox.h>

#include <QInputDialog>

void fillInitialErrorTexts(ListBox &errors)
{
    errors.addItem(QStringLiteral("404"));
    errors.addItem(QStringLiteral("page not found"));
}

void addErrorText(QWidget *owner, ListBox &errors)
{
    const QString text = QInputDialog::getText(owner, QStringLiteral("Broken link text"),
                                               QStringLiteral("What text would prove a broken link?"));
    errors.addItem(text);
}

void removeCurrentErrorText(ListBox &errors)
{
    errors.removeItem(errors.currentIndex());
}
