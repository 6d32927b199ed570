#include <app/mainwindow.h>
#include <platform/httpclient.h>
#include <platform/networkdocument.h>
#include <platform/networktransfer.h>
#include <platform/shell.h>

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skarnel"));
    QApplication::setDesktopFileName(QStringLiteral("skarnel"));

    // The crawl and the check share one client: its connections and its limits to a host.
    const std::shared_ptr<HttpClient> client = HttpClient::create();
    NetworkDocumentService documents(client, std::chrono::seconds(60), 16 * 1024 * 1024);
    NetworkTransfer transfer(client, std::chrono::seconds(60), 16 * 1024 * 1024);
    SystemShell shell;
    MainWindow window(documents, transfer, shell);
    window.show();
    return app.exec();
}
