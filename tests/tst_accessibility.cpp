#include "support/windowharness.h"

#include <app/optionsdialog.h>

#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <private/qguiapplication_p.h>

namespace {

QAccessibleInterface *accessible(QObject *object)
{
    QAccessibleInterface *interface = QAccessible::queryAccessibleInterface(object);
    if (!interface)
        qFatal("no accessible interface for %s", qPrintable(object->objectName()));
    return interface;
}

QString accessibleName(QObject *object)
{
    return accessible(object)->text(QAccessible::Name);
}

QStringList childNames(QAccessibleInterface *list)
{
    QStringList names;
    for (int i = 0; i < list->childCount(); ++i)
        names.append(list->child(i)->text(QAccessible::Name));
    return names;
}

QList<int> selectedChildren(QAccessibleInterface *list)
{
    QList<int> selected;
    for (int i = 0; i < list->childCount(); ++i)
        if (list->child(i)->state().selected)
            selected.append(i);
    return selected;
}

// What screen readers are told, in order: where the focus went and which lists changed, one line
// each, such as "Focus lstErrors[2]" for the third entry of lstErrors.
QStringList told;

QString describe(QAccessibleEvent *event)
{
    QObject *object = event->object();
    QString name = object->objectName().isEmpty()
                           ? QString::fromLatin1(object->metaObject()->className())
                           : object->objectName();
    if (event->type() == QAccessible::TableModelChanged) {
        const auto *change = static_cast<QAccessibleTableModelChangeEvent *>(event);
        const char *kind =
                change->modelChangeType() == QAccessibleTableModelChangeEvent::RowsInserted
                        ? "RowsInserted"
                : change->modelChangeType() == QAccessibleTableModelChangeEvent::RowsRemoved
                        ? "RowsRemoved"
                : change->modelChangeType() == QAccessibleTableModelChangeEvent::ModelReset
                        ? "ModelReset"
                        : "TableModelChanged";
        QString text = QStringLiteral("%1 %2").arg(QLatin1String(kind), name);
        if (change->firstRow() >= 0)
            text += QStringLiteral(" %1-%2").arg(change->firstRow()).arg(change->lastRow());
        return text;
    }
    if (event->child() >= 0)
        name += QStringLiteral("[%1]").arg(event->child());
    return QLatin1String(event->type() == QAccessible::Focus ? "Focus " : "Selection ") + name;
}

void record(QAccessibleEvent *event)
{
    if (event->type() == QAccessible::Focus || event->type() == QAccessible::Selection
        || event->type() == QAccessible::TableModelChanged)
        told.append(describe(event));
}

// The last control or entry that screen readers were told has the focus.
QString lastFocus()
{
    for (qsizetype i = told.size() - 1; i >= 0; --i)
        if (told.at(i).startsWith(QLatin1String("Focus ")))
            return told.at(i).mid(6);
    return {};
}

// Whether the widgets take a screen reader to be attached. On the desktop the platform's bridge
// to the readers says so; offscreen there is none, and the tests say so themselves.
void setReaderAttached(bool attached)
{
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(attached);
}

// A screen reader attached while it lives, recording in `told` what the widgets tell it.
struct ReaderAttached
{
    ReaderAttached()
    {
        told.clear();
        QAccessible::installUpdateHandler(record);
        setReaderAttached(true);
    }
    ~ReaderAttached()
    {
        setReaderAttached(false);
        QAccessible::installUpdateHandler(nullptr);
    }
};

} // namespace

class AccessibilityTest final : public QObject
{
    Q_OBJECT

private slots:
    void names_controlsNamedByTheirLabelsOrCaptions_data();
    void names_controlsNamedByTheirLabelsOrCaptions();
    void names_labelsAreRelatedToTheControlsTheyName();
    void names_optionsControlsNamedByTheirLabels();

    void listBox_isAListOfItsEntries();
    void listBox_selectedStateFollowsCurrentEntry();
    void listBox_childrenFollowEntriesAddedAndRemoved();
    void listBox_childAtFindsEntryUnderPoint();
    void listBox_windowListsReadTheirLinks();
    void listBox_tellsReadersOfChangedRowsAndCurrentEntry();
    void listBox_tellsTheDesktopBridgeOfAddedEntriesOnceForMany();

    void panels_takeTheFocusAndGiveItBack();
    void menus_f10ArrowsMoveBetweenMenusAndReadersFollow();
};

void AccessibilityTest::names_controlsNamedByTheirLabelsOrCaptions_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    const std::tuple<const char *, const char *, QAccessible::Role> controls[] = {
            {"txtAddress", "Domain name:", QAccessible::EditableText},
            {"cmdCrawl", "Crawl", QAccessible::PushButton},
            {"lstInternal", "Internal links", QAccessible::List},
            {"lstExternal", "External links", QAccessible::List},
            {"cmdForceStop", "Force Stop", QAccessible::PushButton},
            {"txtHTML", "Page text", QAccessible::EditableText},
            {"fraSettings", "Settings", QAccessible::Grouping},
            {"lstErrors", "Error messages on broken links", QAccessible::List},
            {"cmdSettingsAdd", "Add", QAccessible::PushButton},
            {"cmdSettingsRemove", "Remove", QAccessible::PushButton},
            {"cmdSettingsDone", "Done", QAccessible::PushButton},
            {"fraBroken", "Broken links", QAccessible::Grouping},
            {"txtBroken", "Broken links", QAccessible::EditableText},
            {"cmdCheckBroken", "Check broken links", QAccessible::PushButton},
            {"cmdBrokenHide", "Hide", QAccessible::PushButton},
            {"fraLinksToPage", "Links to broken page", QAccessible::Grouping},
            {"txtBrokenLink", "Link:", QAccessible::EditableText},
            {"cmdBrokenLinkCrawl", "Find links", QAccessible::PushButton},
            {"txtLinksToPage", "Pages that link to the address", QAccessible::EditableText},
            {"cmdLinksHide", "Hide", QAccessible::PushButton},
            {"lblInternal", "Internal links: 0", QAccessible::StaticText},
            {"lblCopyright", "By Veltrano", QAccessible::StaticText},
    };
    for (const auto &[control, name, role] : controls)
        QTest::newRow(control) << control << name << int(role);
}

void AccessibilityTest::names_controlsNamedByTheirLabelsOrCaptions()
{
    QFETCH(QString, control);
    QFETCH(QString, name);
    QFETCH(int, role);
    WindowHarness h;
    h.window.show();
    QObject *widget = h.get(control.toLatin1().constData());
    QCOMPARE(accessibleName(widget), name);
    QCOMPARE(int(accessible(widget)->role()), role);
}

// A screen reader that walks from a label to the control it names, or back, finds the other.
void AccessibilityTest::names_labelsAreRelatedToTheControlsTheyName()
{
    WindowHarness h;
    const std::pair<const char *, const char *> pairs[] = {
            {"Label1", "txtAddress"}, {"Label3", "lstInternal"}, {"Label4", "lstExternal"},
            {"Label2", "lstErrors"},  {"Label5", "txtBroken"},   {"Label7", "txtBrokenLink"},
    };
    for (const auto &[label, control] : pairs) {
        QList<QObject *> labels;
        for (const auto &[other, relation] :
             accessible(h.get(control))->relations(QAccessible::Label))
            labels.append(other->object());
        QVERIFY2(labels.contains(h.get(label)), control);
        const auto labelled = accessible(h.get(label))->relations(QAccessible::Labelled);
        QCOMPARE(labelled.size(), 1);
        QCOMPARE(labelled.first().first->object(), h.get(control));
    }
}

void AccessibilityTest::names_optionsControlsNamedByTheirLabels()
{
    OptionsDialog dialog {CheckSettings()};
    dialog.show();
    const std::pair<const char *, const char *> controls[] = {
            {"chkResources", "Check images, styles, scripts and frames"},
            {"chkFragments", "Check #fragments against the page's anchors"},
            {"chkStrictRedirects", "Count a permanent redirect as broken"},
            {"spnPerHost", "Requests at once per host:"},
            {"spnPause", "Pause between requests to a host:"},
            {"spnRetryCap", "Longest Retry-After wait:"},
            {"txtAccept", "Accept statuses:"},
            {"txtExclude", "Do not check addresses matching:"},
            {"txtNoCrawl", "Do not crawl pages matching:"},
            {"txtHeaders", "Headers:"},
            {"txtUser", "User name:"},
            {"txtPassword", "Password:"},
            {"txtCookieFile", "Cookie file:"},
            {"cmdCookieFileBrowse", "Browse\u2026"},
            {"txtCaFile", "Authorities (CA file):"},
            {"chkInsecure", "Do not verify the start address's certificate"},
            {"txtUserAgent", "User agent:"},
            {"spnCrawlLevels", "Crawl levels:"},
            {"chkRobots", "Keep out of what robots.txt forbids"},
            {"txtSitemap", "Sitemap:"},
    };
    for (const auto &[control, name] : controls)
        QCOMPARE(accessibleName(dialog.findChild<QWidget *>(control)), QString::fromUtf8(name));
    QCOMPARE(dialog.findChild<QLineEdit *>("txtPassword")->echoMode(), QLineEdit::Password);
}

void AccessibilityTest::listBox_isAListOfItsEntries()
{
    ListBox list;
    for (const char *entry : {"http://a.test/", "http://b.test/", "http://c.test/"})
        list.addItem(QLatin1String(entry));
    QAccessibleInterface *iface = accessible(&list);
    QCOMPARE(iface->role(), QAccessible::List);
    QCOMPARE(iface->childCount(), 3);
    QCOMPARE(childNames(iface),
             QStringList({"http://a.test/", "http://b.test/", "http://c.test/"}));
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface *entry = iface->child(i);
        QCOMPARE(entry->role(), QAccessible::ListItem);
        QVERIFY(entry->isValid());
        QCOMPARE(entry->parent(), iface);
        QCOMPARE(iface->indexOfChild(entry), i);
        QVERIFY(entry->state().selectable);
        // The same entry is the same interface each time it is asked for.
        QCOMPARE(iface->child(i), entry);
    }
    QCOMPARE(iface->child(3), nullptr);
    QCOMPARE(iface->child(-1), nullptr);

    // Another list's entries are not this list's children.
    ListBox other;
    other.addItem(QStringLiteral("http://a.test/"));
    QCOMPARE(iface->indexOfChild(accessible(&other)->child(0)), -1);
}

void AccessibilityTest::listBox_selectedStateFollowsCurrentEntry()
{
    ListBox list;
    for (const char *entry : {"404", "page not found", "gone"})
        list.addItem(QLatin1String(entry));
    list.show();
    QVERIFY(QTest::qWaitForWindowActive(&list));
    QAccessibleInterface *iface = accessible(&list);
    QCOMPARE(selectedChildren(iface), QList<int>());

    list.setCurrentIndex(1);
    QCOMPARE(selectedChildren(iface), QList<int>({1}));
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(selectedChildren(iface), QList<int>({2}));
    QVERIFY(iface->child(2)->state().focused);
    QVERIFY(!iface->child(1)->state().focused);
    QCOMPARE(iface->focusChild(), iface->child(2));

    list.removeItem(0);
    QCOMPARE(selectedChildren(iface), QList<int>());
    QCOMPARE(iface->focusChild(), nullptr);
}

void AccessibilityTest::listBox_childrenFollowEntriesAddedAndRemoved()
{
    ListBox list;
    QAccessibleInterface *iface = accessible(&list);
    QCOMPARE(iface->childCount(), 0);
    list.addItem(QStringLiteral("first"));
    list.addItem(QStringLiteral("second"));
    QAccessibleInterface *second = iface->child(1);
    QCOMPARE(second->text(QAccessible::Name), "second");

    list.removeItem(0);
    QCOMPARE(childNames(iface), QStringList({"second"}));
    QVERIFY(!second->isValid());
    QVERIFY(second->state().invalid);
    QCOMPARE(iface->indexOfChild(second), -1);

    list.clear();
    QCOMPARE(iface->childCount(), 0);
    QCOMPARE(iface->child(0), nullptr);
    list.addItem(QStringLiteral("again"));
    QCOMPARE(childNames(iface), QStringList({"again"}));
}

void AccessibilityTest::listBox_childAtFindsEntryUnderPoint()
{
    ListBox list;
    list.resize(200, 100);
    for (int i = 0; i < 50; ++i)
        list.addItem(QStringLiteral("entry %1").arg(i));
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QAccessibleInterface *iface = accessible(&list);

    QAccessibleInterface *first = iface->child(0);
    QVERIFY(!first->rect().isEmpty());
    QVERIFY(iface->rect().contains(first->rect()));
    QCOMPARE(iface->childAt(first->rect().center().x(), first->rect().center().y()), first);
    QAccessibleInterface *second = iface->child(1);
    QCOMPARE(second->rect().top(), first->rect().bottom() + 1);
    QCOMPARE(iface->childAt(second->rect().center().x(), second->rect().center().y()), second);

    // An entry scrolled out of view has no place on the screen, and one scrolled in has.
    QAccessibleInterface *last = iface->child(49);
    QVERIFY(last->state().offscreen);
    QVERIFY(last->rect().isEmpty());
    list.setCurrentIndex(49);
    QVERIFY(!last->state().offscreen);
    QVERIFY(iface->rect().contains(last->rect()));
    QVERIFY(first->state().offscreen);
    QCOMPARE(iface->childAt(last->rect().center().x(), last->rect().center().y()), last);
    QCOMPARE(iface->childAt(iface->rect().right() + 10, iface->rect().center().y()), nullptr);
}

void AccessibilityTest::listBox_windowListsReadTheirLinks()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/",
                        {"http://site.test/a", "http://site.test/b", "http://other.test/"});
    h.window.show();
    h.crawl("http://site.test/");
    QCOMPARE(childNames(accessible(h.get("lstInternal"))),
             QStringList({"http://site.test/a", "http://site.test/b"}));
    QCOMPARE(childNames(accessible(h.get("lstExternal"))), QStringList({"http://other.test/"}));
    QCOMPARE(childNames(accessible(h.get("lstErrors"))), QStringList({"404", "page not found"}));
    // The crawl leaves the last page it read selected.
    QCOMPARE(selectedChildren(accessible(h.get("lstInternal"))), QList<int>({1}));
}

// A reader that keeps its own copy of a list is told of every change of its rows, and of the
// entry the crawl or check is on while the list has the focus; without the focus, only of the
// selection, as of Qt's own lists.
void AccessibilityTest::listBox_tellsReadersOfChangedRowsAndCurrentEntry()
{
    QWidget window;
    auto *list = new ListBox(&window);
    list->setObjectName(QStringLiteral("list"));
    auto *elsewhere = new QLineEdit(&window);
    elsewhere->setObjectName(QStringLiteral("elsewhere"));
    elsewhere->move(0, list->sizeHint().height() + 10);
    showActive(window);
    elsewhere->setFocus();
    ReaderAttached reader;

    list->addItem(QStringLiteral("a"));
    list->addItem(QStringLiteral("b"));
    list->addItem(QStringLiteral("c"));
    list->setCurrentIndex(1);
    list->removeItem(0);
    list->clear();
    QCOMPARE(told,
             QStringList({"RowsInserted list 0-0", "RowsInserted list 1-1", "RowsInserted list 2-2",
                          "Selection list[1]", "RowsRemoved list 0-0", "ModelReset list"}));

    for (const char *entry : {"a", "b", "c"})
        list->addItem(QLatin1String(entry));
    list->setCurrentIndex(1);
    told.clear();
    // Gaining the focus, the list announces its current entry after itself.
    list->setFocus();
    QCoreApplication::processEvents();
    QCOMPARE(told, QStringList({"Focus list", "Focus list[1]"}));
    told.clear();
    QTest::keyClick(list, Qt::Key_Down);
    list->addItem(QStringLiteral("d"));
    QCOMPARE(told, QStringList({"Selection list[2]", "Focus list[2]", "RowsInserted list 3-3"}));
    // The selected state is still the current entry's alone.
    QCOMPARE(selectedChildren(accessible(list)), QList<int>({2}));
}

// Showing a panel from its menu entry puts the focus on the panel's first control; hiding it
// gives the focus back to the control that had it, unless that can no longer take it.
// Qt's bridge to the desktop's readers passes on children created and destroyed, not row changes:
// a crawl that adds entries by the thousand tells it once for all of them, through the last one,
// and emptying the list tells it while an entry is still there to name.
void AccessibilityTest::listBox_tellsTheDesktopBridgeOfAddedEntriesOnceForMany()
{
    static QStringList bridge;
    QWidget window;
    auto *list = new ListBox(&window);
    list->setObjectName(QStringLiteral("list"));
    showActive(window);
    ReaderAttached reader;
    bridge.clear();
    QAccessible::installUpdateHandler([](QAccessibleEvent *event) {
        if (event->type() == QAccessible::ObjectCreated
            || event->type() == QAccessible::ObjectDestroyed) {
            QAccessibleInterface *entry = event->accessibleInterface();
            bridge.append(QLatin1String(event->type() == QAccessible::ObjectCreated ? "created "
                                                                                    : "destroyed ")
                          + (entry && entry->isValid() ? entry->text(QAccessible::Name) : "?"));
        }
    });

    for (int i = 0; i < 1000; ++i)
        list->addItem(QStringLiteral("entry %1").arg(i));
    QTRY_COMPARE(bridge, QStringList({"created entry 999"}));
    list->clear();
    QCOMPARE(bridge, QStringList({"created entry 999", "destroyed entry 0"}));
}

void AccessibilityTest::panels_takeTheFocusAndGiveItBack()
{
    WindowHarness h;
    showActive(h.window);
    ReaderAttached reader;
    const std::tuple<const char *, const char *, const char *> panels[] = {
            {"mnuSettings", "lstErrors", "cmdSettingsDone"},
            {"mnuCheckBroken", "txtBroken", "cmdBrokenHide"},
            {"mnuLinksToPage", "txtBrokenLink", "cmdLinksHide"},
    };
    for (const auto &[entry, first, hide] : panels) {
        h.get("lstInternal")->setFocus();
        h.trigger(entry);
        QCOMPARE(focusName(), first);
        QCOMPARE(lastFocus(), first);
        h.get(hide)->setFocus();
        h.click(hide);
        QCOMPARE(focusName(), "lstInternal");
        QCOMPARE(lastFocus(), "lstInternal");
    }

    // Showing another panel hides the first one: the focus goes back where it was before either.
    h.get("cmdCrawl")->setFocus();
    h.trigger("mnuSettings");
    h.trigger("mnuLinksToPage");
    QCOMPARE(focusName(), "txtBrokenLink");
    h.click("cmdLinksHide");
    QCOMPARE(focusName(), "cmdCrawl");

    // A control that was disabled meanwhile does not get it back.
    h.trigger("mnuSettings");
    h.button("cmdCrawl")->setEnabled(false);
    h.click("cmdSettingsDone");
    QVERIFY(QApplication::focusWidget());
    QVERIFY(QApplication::focusWidget() != h.get("cmdCrawl"));
    QVERIFY(QApplication::focusWidget()->isVisible());
}

// After F10 as after a lone Alt, Left and Right open the neighbouring menus with their first
// entry chosen, and the reader is told of that entry; closing the menus gives the focus back.
void AccessibilityTest::menus_f10ArrowsMoveBetweenMenusAndReadersFollow()
{
    WindowHarness h;
    showActive(h.window);
    ReaderAttached reader;
    auto menu = [] { return qobject_cast<QMenu *>(QApplication::activePopupWidget()); };
    auto chosen = [&] {
        return menu() && menu()->activeAction() ? menu()->activeAction()->objectName() : QString();
    };

    h.get("txtAddress")->setFocus();
    QTest::keyClick(h.get("txtAddress"), Qt::Key_F10);
    QCOMPARE(chosen(), "mnuNew");
    QCOMPARE(lastFocus(), "mnuFile[0]");
    const std::tuple<Qt::Key, const char *, const char *> moves[] = {
            {Qt::Key_Right, "mnuSettings", "mnuCrawlSetup[0]"},
            {Qt::Key_Right, "mnuCrawl", "mnuToos[0]"},
            {Qt::Key_Right, "mnuNew", "mnuFile[0]"},
            {Qt::Key_Left, "mnuCrawl", "mnuToos[0]"},
            {Qt::Key_Left, "mnuSettings", "mnuCrawlSetup[0]"},
    };
    for (const auto &[key, entry, focus] : moves) {
        told.clear();
        QTest::keyClick(menu(), key);
        QCOMPARE(chosen(), entry);
        QCOMPARE(lastFocus(), focus);
        // No control is announced between the menus.
        QCOMPARE(told.filter(QStringLiteral("Focus txtAddress")), QStringList());
    }

    // Escape closes the menu, then leaves the menu bar.
    QTest::keyClick(menu(), Qt::Key_Escape);
    QVERIFY(!menu());
    if (h.window.menuBar()->activeAction())
        QTest::keyClick(h.window.menuBar(), Qt::Key_Escape);
    QCOMPARE(focusName(), "txtAddress");
    QCOMPARE(lastFocus(), "txtAddress");

    // An entry run from there finds the focus back where it was: Settings takes it into its panel.
    QTest::keyClick(h.get("txtAddress"), Qt::Key_F10);
    QTest::keyClick(menu(), Qt::Key_Right);
    QTest::keyClick(menu(), Qt::Key_Return);
    QVERIFY(!menu());
    QCOMPARE(focusName(), "lstErrors");
    h.click("cmdSettingsDone");
    QCOMPARE(focusName(), "txtAddress");
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
