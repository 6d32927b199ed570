// The report as the window makes it and File > Save Report.
#include "support/csv.h"
#include "support/windowharness.h"

#include <report/report.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextBlock>

#include <site/checkresults.h>
#include <site/linkorigins.h>

using namespace skarnel;

namespace {

// The address of each line of the broken list, its tooltip.
QString toolTipOfLine(WindowHarness &h, int line)
{
    auto *box = h.get<MultiLineTextBox>("txtBroken");
    return box->lineToolTipAt(
            box->cursorRect(QTextCursor(box->document()->findBlockByNumber(line))).center());
}

// Closes the next message box once it shows, handing its text to `seen`.
void closeMessageBoxWhenShown(QString *seen)
{
    QTimer::singleShot(10, [seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return closeMessageBoxWhenShown(seen);
        *seen = box->text();
        box->close();
    });
}

// Answers the next file dialog with `path`.
void answerFileDialog(const QString &path)
{
    QTimer::singleShot(10, [path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return answerFileDialog(path);
        // Typed into the name box, as a user would: the dialog may still be choosing its initial
        // name for a folder it reads in the background, which would undo a selection.
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name)
            qFatal("the file dialog has no name box");
        name->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

} // namespace

class ReportWindowTest final : public QObject
{
    Q_OBJECT

private slots:
    void reportAfterCrawlAloneIsNotChecked();
    void reportAfterStoppedCheckKeepsWhatWasChecked();
    void saveReportMenuWritesTheChosenFile();
    void failedSaveSaysSoAndKeepsResults();
    void tooltipNamesUpToFivePagesFoundOn();
};

void ReportWindowTest::reportAfterCrawlAloneIsNotChecked()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/",
                        {"http://site.test/a", "http://other.test/x", "mailto:x@y.z"});
    h.documents.setPage("http://site.test/a", {"http://other.test/x", "http://site.test/b"});
    h.crawl("http://site.test/");

    const Report r = h.window.report();

    QCOMPARE(r.start, "http://site.test/");
    QCOMPARE(r.counts.internal, 2);
    QCOMPARE(r.counts.external, 1);
    QCOMPARE(r.counts.total, 3);
    QCOMPARE(r.counts.broken, 0);
    QCOMPARE(r.pages.size(), 3);
    QStringList seen;
    for (const ReportPage &p : r.pages) {
        QCOMPARE(p.result, ReportPage::Result::NotChecked);
        seen.append(p.address + (p.internal ? " internal " : " external ") + p.foundOn.join(' '));
    }
    QCOMPARE(seen,
             QStringList({"http://site.test/a internal http://site.test/",
                          "http://site.test/b internal http://site.test/a",
                          "http://other.test/x external http://site.test/ http://site.test/a"}));

    h.trigger("mnuNew");
    QVERIFY(!h.window.origins().find("http://site.test/a"));
}

void ReportWindowTest::reportAfterStoppedCheckKeepsWhatWasChecked()
{
    WindowHarness h;
    h.documents.setPage("http://site.test/",
                        {"http://site.test/a", "http://site.test/b", "http://site.test/c"});
    h.crawl("http://site.test/");
    h.transfer.setAnswer("http://site.test/a", 404, "Not Found", "");
    h.transfer.setPage("http://site.test/b", "fine");
    h.transfer.setPage("http://site.test/c", "fine");
    h.transfer.holdPage("http://site.test/b");
    h.transfer.onWait = [&](const QString &address) {
        if (address == "http://site.test/b")
            soon([&] { h.trigger("mnuForceStop"); });
    };
    h.check();

    const Report r = h.window.report();

    QCOMPARE(r.pages.size(), 3);
    QCOMPARE(r.pages[0].result, ReportPage::Result::Broken);
    QCOMPARE(r.pages[0].reason, "HTTP 404 Not Found");
    QCOMPARE(r.pages[0].httpStatus, 404);
    QCOMPARE(r.pages[1].result, ReportPage::Result::NotChecked);
    QCOMPARE(r.pages[2].result, ReportPage::Result::NotChecked);
    QCOMPARE(r.counts.broken, 1);
}

void ReportWindowTest::saveReportMenuWritesTheChosenFile()
{
    QTemporaryDir folder;
    WindowHarness h;
    h.documents.setPage("http://site.test/", {"http://site.test/a"});
    h.crawl("http://site.test/");

    answerFileDialog(folder.filePath("site.html"));
    h.trigger("mnuSaveReport");
    // A name that begins no other file's, so that the dialog's completion cannot pick that one.
    answerFileDialog(folder.filePath("plain"));
    h.trigger("mnuSaveReport");

    QFile html(folder.filePath("site.html"));
    QVERIFY(html.open(QIODevice::ReadOnly));
    QVERIFY(html.readAll().startsWith("<!DOCTYPE html>"));
    QFile csv(folder.filePath("plain.csv")); // no suffix: CSV, named so
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(parseCsv(csv.readAll()).value(1).value(0), "http://site.test/a");
}

void ReportWindowTest::failedSaveSaysSoAndKeepsResults()
{
    QTemporaryDir folder;
    WindowHarness h;
    h.documents.setPage("http://site.test/", {"http://site.test/a"});
    h.crawl("http://site.test/");
    h.transfer.setAnswer("http://site.test/a", 500, "Internal Server Error", "");
    h.check();
    const QString unwritable = folder.filePath("no-such-folder/report.csv");

    QString error;
    QVERIFY(!h.window.saveReport(unwritable, &error));
    QVERIFY(!error.isEmpty());

    QString said;
    closeMessageBoxWhenShown(&said);
    answerFileDialog(unwritable);
    h.trigger("mnuSaveReport");
    QVERIFY2(said.contains("could not be saved") && said.contains(error), qPrintable(said));
    QCOMPARE(h.lines("txtBroken"), QStringList({"http://site.test/a"}));
    QVERIFY(h.window.results().find("http://site.test/a"));
    QCOMPARE(h.entries("lstInternal"), QStringList({"http://site.test/a"}));
}

void ReportWindowTest::tooltipNamesUpToFivePagesFoundOn()
{
    WindowHarness h;
    QStringList pages;
    for (int i = 0; i < 8; ++i)
        pages.append(QStringLiteral("http://site.test/p%1").arg(i));
    h.documents.setPage("http://site.test/", pages);
    for (const QString &p : pages)
        h.documents.setPage(p, {"http://other.test/dead"});
    h.crawl("http://site.test/");
    for (const QString &p : pages)
        h.transfer.setPage(p, "fine");
    h.transfer.setAnswer("http://other.test/dead", 404, "Not Found", "");
    h.check();
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));
    h.trigger("mnuCheckBroken");

    QCOMPARE(toolTipOfLine(h, 0),
             "HTTP 404 Not Found\nFound on:\n" + pages.first(5).join('\n') + "\nand 3 more");
}

QTEST_MAIN(ReportWindowTest)
#include "tst_reportwindow.moc"
