#include "errortexts.h"

#include <widgets/listbox.h>

#include <QInputDialog>
#include <QSettings>

namespace skarnel {

namespace {

// An array, not one string list: a text may hold commas, and the list may be empty.
const QString StoreKey = QStringLiteral("errorTexts");
const QString TextKey = QStringLiteral("text");

} // namespace

void fillInitialErrorTexts(ListBox &errors)
{
    errors.addItem(QStringLiteral("404"));
    errors.addItem(QStringLiteral("page not found"));
}

void addErrorText(QWidget *owner, ListBox &errors)
{
    const QString text =
            QInputDialog::getText(owner, QStringLiteral("Broken link text"),
                                  QStringLiteral("What text would prove a broken link?"));
    errors.addItem(text);
}

void removeCurrentErrorText(ListBox &errors)
{
    errors.removeItem(errors.currentIndex());
}

bool loadErrorTexts(ListBox &errors, QSettings &store)
{
    if (!store.contains(StoreKey + QStringLiteral("/size")))
        return false;
    const int size = store.beginReadArray(StoreKey);
    QStringList texts;
    for (int i = 0; i < size; ++i) {
        store.setArrayIndex(i);
        texts.append(store.value(TextKey).toString());
    }
    store.endArray();
    errors.clear();
    for (const QString &text : texts)
        errors.addItem(text);
    return true;
}

void saveErrorTexts(const ListBox &errors, QSettings &store)
{
    store.remove(StoreKey);
    store.beginWriteArray(StoreKey, int(errors.count()));
    for (qsizetype i = 0; i < errors.count(); ++i) {
        store.setArrayIndex(int(i));
        store.setValue(TextKey, errors.text(i));
    }
    store.endArray();
    store.sync();
}

} // namespace skarnel
