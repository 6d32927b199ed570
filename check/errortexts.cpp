#include "errortexts.h"

#include <QSettings>

#include <site/linklist.h>

namespace skarnel {

namespace {

// An array, not one string list: a text may hold commas, and the list may be empty.
const QString StoreKey = QStringLiteral("errorTexts");
const QString TextKey = QStringLiteral("text");

} // namespace

void fillInitialErrorTexts(LinkList &errors)
{
    errors.append(QStringLiteral("404"));
    errors.append(QStringLiteral("page not found"));
}

void removeCurrentErrorText(LinkList &errors)
{
    errors.removeAt(errors.currentIndex());
}

bool loadErrorTexts(LinkList &errors, QSettings &store)
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
        errors.append(text);
    return true;
}

void saveErrorTexts(const LinkList &errors, QSettings &store)
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
