#include <app/commandline.h>
#include <app/desktopshell.h>
#include <app/mainwindow.h>
#include <net/httpclient.h>
#include <net/networkservices.h>

#include <QApplication>
#include <QFile>
#include <QSettings>

#include <unistd.h>

#include <memory>

using namespace skarnel;

namespace {

void nameTheProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("Skarnel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Skarnel"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(SKARNEL_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // The command line runs on Qt Core alone: no window, no display, no display platform.
    const bool commandLine = isCommandLineRun(arguments);
    std::unique_ptr<QCoreApplication> app;
    if (commandLine) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
        QGuiApplication::setDesktopFileName(QStringLiteral("skarnel"));
    }
    nameTheProgram();

    // The crawl and the check share one client: its connections and its limits to a host.
    NetworkServices network(HttpClient::create());
    PageLoader &documents = network;
    PageLoader &transfer = network;
    const auto usePolicy = [&network](const NetworkPolicy &policy) { network.setPolicy(policy); };
    // The desktop's usual place for settings: ~/.config/Skarnel/Skarnel.conf on Linux.
    QSettings settings;

    if (commandLine) {
        // Straight to the descriptors, past any buffer, so that a write that fails says so at once.
        QFile out;
        QFile err;
        out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
        err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
        return runCommandLine(QCoreApplication::arguments(),
                              {documents, transfer, &settings, out, err,
                               ::isatty(STDERR_FILENO) == 1, usePolicy});
    }

    SystemShell shell;
    MainWindow window(documents, transfer, shell);
    window.keepErrorTexts(settings);
    window.keepSettings(settings);
    window.useNetworkPolicy(usePolicy);
    window.show();
    return QApplication::exec();
}
