#include <app/mainwindow.h>
#include <platform/networkdocument.h>
#include <platform/networktransfer.h>
#include <platform/shell.h>

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skarnel"));
    QApplication::setDesktopFileName(QStringLiteral("skarnel"));

    NetworkDocumentService documents;
    NetworkTransfer transfer;
    SystemShell shell;
    MainWindow window(documents, transfer, shell);
    window.show();
    return app.exec();
}
