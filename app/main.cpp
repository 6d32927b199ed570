#include <app/commandline.h>
#include <app/mainwindow.h>
#include <net/httpclient.h>
#include <net/networkservices.h>
#include <widgets/desktopshell.h>

#include <QApplication>
#include <QFile>
#include <QSettings>

#include <unistd.h>

#include <cstdio>

using namespace skarnel;

namespace {

// The command line's standard error is for the user: Qt's notes about the display platform and
// the session, which a run without a display makes, are left out.
void withoutPlatformNotes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("XDG_RUNTIME_DIR"))
        || message.contains(QLatin1String("propagateSizeHints")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // The command line shows no window and needs no display.
    const bool commandLine = isCommandLineRun(arguments);
    if (commandLine) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(withoutPlatformNotes);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skarnel"));
    QApplication::setOrganizationName(QStringLiteral("Skarnel"));
    QApplication::setApplicationVersion(QString::fromLatin1(SKARNEL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("skarnel"));

    // The crawl and the check share one client: its connections and its limits to a host.
    const std::shared_ptr<HttpClient> client = HttpClient::create();
    NetworkServices network(client);
    HtmlDocumentService &documents = network;
    InternetTransfer &transfer = network;
    SystemShell shell;
    // The desktop's usual place for settings: ~/.config/Skarnel/Skarnel.conf on Linux.
    QSettings settings;

    if (commandLine) {
        QFile out;
        QFile err;
        out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
        err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
        // Qt has taken its own options (-platform, -style) out of the arguments by now.
        return runCommandLine(QApplication::arguments(), {documents, transfer, shell, &settings,
                                                          out, err, ::isatty(STDERR_FILENO) == 1});
    }

    MainWindow window(documents, transfer, shell);
    window.keepErrorTexts(settings);
    window.show();
    return app.exec();
}
