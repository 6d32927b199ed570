#pragma once

#include <QStringList>

#include <run/checksettings.h>

#include <functional>

class QIODevice;
class QSettings;

namespace skarnel {

class PageLoader;

// skarnel --check URL: the run's crawl and check without any window, then the report. The face
// parses the options, asks for the password, shows progress on a terminal, answers signals and
// gives the exit status; the run itself is a SiteRun.

// Whether `arguments` (the program first) ask for the command line rather than the window: any
// of its options is given, --help and --version among them.
bool isCommandLineRun(const QStringList &arguments);

// The exit statuses of a run.
enum CommandLineStatus : int {
    NothingBroken = 0,
    SomethingBroken = 1,
    BadUsage = 2,      // and a start page that cannot be loaded, or a report that cannot be written
    Interrupted = 130, // Ctrl+C or a termination request: the report holds what was found so far
};

struct CommandLineServices
{
    PageLoader &documents;
    PageLoader &transfer;
    // The error texts the window keeps; null: the two it starts with.
    QSettings *errorTexts = nullptr;
    QIODevice &out;
    QIODevice &err;
    // Whether `err` is a terminal, where the run shows how far it is.
    bool errIsTerminal = false;
    // Given the run's network policy (its pace, and the headers, login and cookies for the start
    // address's host), before its first request. Null: the network keeps its own.
    std::function<void(const NetworkPolicy &)> useNetworkPolicy = nullptr;
};

// Runs the command line `arguments` (the program first) to its end and returns the exit status.
// Every option is checked before the first request. The password for --user is SKARNEL_PASSWORD
// when that is set; otherwise it is typed on the terminal, unechoed, when standard input is one,
// and without one the run ends as bad usage. A QCoreApplication exists; nothing of the window is
// needed. While it runs, SIGINT and SIGTERM stop it as Force Stop does, and a second one ends the
// process; SIGPIPE is ignored, so that a report that cannot be written to a closed pipe is a write
// error like any other (status 2, the reason on `err`).
int runCommandLine(const QStringList &arguments, const CommandLineServices &services);

} // namespace skarnel
